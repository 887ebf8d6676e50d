#pragma once
// The picture window: one picture of a help request at full size in a window of its
// own, with scrolling and keyboard zoom (Ctrl with "=" or "+" zooms in by 1.25, with "-"
// out, with "0" fits the picture to the window; Ctrl is this desktop's command key).
// A picture opened from a place that drew it larger than its own size opens at least
// that large. Any number may be open; each lives until it is closed (Escape closes it). Pictures are decoded with an
// allocation limit: data that does not decode as an image within it opens nothing.
// Ctrl+S and the context menu's "Save…" save the picture's bytes as a JPEG file.

#include "mail/TransferredFile.h"

#include <QImage>
#include <QPointer>
#include <QScrollArea>
#include <QString>
#include <QWidget>

#include <optional>
#include <string>
#include <vector>

namespace wl {

class Prompts;

// A scroll view that zooms: the picture drawn at a magnification between 0.05 and 4 (or
// more, as far as fitting it to the view takes it).
class ZoomingScrollView final : public QScrollArea {
    Q_OBJECT
public:
    static constexpr double kMinimumMagnification = 0.05;
    static constexpr double kMaximumMagnification = 4.0; // or the fit, when that is more
    static constexpr double kStep = 1.25;

    explicit ZoomingScrollView(QWidget* parent = nullptr);

    void setPicture(const QImage& picture, const QString& accessibleName);
    const QImage& picture() const { return picture_; }
    double magnification() const { return magnification_; }
    // Kept within the limits.
    void setMagnification(double magnification);
    // The whole picture visible in the view, as large as the view allows (beyond the
    // largest magnification for a small picture in a large view).
    void magnifyToFit();
    // The zoom keys; true when the key was one of them.
    bool performKeyEquivalent(const QKeyEvent& event);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QImage picture_;
    double magnification_ = 1.0;
    double largest_ = kMaximumMagnification;
};

class PictureWindowController final : public QWidget {
    Q_OBJECT
public:
    // Opens a window for the picture with the title; nullptr (and no window, no message)
    // when the data is not an image. The picture is shown at its own size, or at shownAt
    // when that is larger (where it was drawn before it was opened), scaled down only to
    // fit the screen.
    static PictureWindowController* show(const TransferredFile& file, const QString& title, Prompts& prompts,
                                         QSize shownAt = {});
    // The image in the data, read within the limits of Pictures; a null image otherwise.
    static QImage decode(const std::string& data);

    PictureWindowController(const QImage& picture, const TransferredFile& file, const QString& title, Prompts& prompts,
                            QSize shownAt = {});
    ~PictureWindowController() override;

    ZoomingScrollView& scrollView() const { return *scrollView_; }
    // Asks where to save the picture and writes its bytes there.
    void save();

protected:
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    ZoomingScrollView* scrollView_;
    TransferredFile file_;
    Prompts& prompts_;
};

// The open picture windows, oldest first.
std::vector<QPointer<PictureWindowController>>& openPictureWindows();

// The file name proposed for a picture: its name without "/", NUL, control characters
// and leading dots, at most 200 bytes, then ".jpg" (also after a name that ends in it);
// "Picture.jpg" when nothing is left.
std::string proposedPictureFileName(const std::string& name);

// What became of a save: where it went, and why it failed.
struct PictureSaveResult {
    enum class Outcome { saved, cancelled, failed };
    Outcome outcome = Outcome::cancelled;
    std::string path;
    std::string error;
};

// Asks where to save the picture (a JPEG) and writes its bytes there through a file
// that replaces the target only when complete. A failure is logged; showing it is the
// caller's.
PictureSaveResult writePictureAs(const TransferredFile& file, Prompts& prompts);

// Asks where to save the picture (a JPEG) and writes its bytes there through a file
// that replaces the target only when complete. A failure shows an alert and a log line;
// true when it was saved, false when it failed or was cancelled.
bool savePicture(const TransferredFile& file, Prompts& prompts);

} // namespace wl
