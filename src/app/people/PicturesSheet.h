#pragma once
// The pictures that came with one help request, over the main window: who sent them,
// the request's topic and note, and the pictures one under the other. Each opens in a
// picture window of its own or is saved as a file. The pictures come from another
// machine: they are decoded with an allocation limit and a largest size, and one that
// does not decode within them shows its name and buttons only. A save that fails says
// "Couldn't save the picture." in the sheet and in the log.

#include "mail/StoredMessage.h"
#include "mail/TransferredFile.h"

#include <QDialog>
#include <QSize>
#include <QString>

#include <functional>
#include <string>
#include <vector>

class QLabel;

namespace wl {

class Prompts;

// The line under the title: the topic, then the note in curly quotation marks, joined
// with " · "; empty with neither.
std::string picturesSheetSubtitle(const StoredMessage& request);
// The title of a picture's window: the sender's name, " · ", the picture's name.
QString pictureWindowTitle(const StoredMessage& request, const TransferredFile& file);

class PicturesSheet final : public QDialog {
    Q_OBJECT
public:
    static constexpr int kWidth = 860;
    static constexpr int kHeight = 680;
    static constexpr const char* kSaveFailed = "Couldn't save the picture.";

    struct Options {
        Prompts* prompts = nullptr; // required
        // Opens a picture window (PictureWindowController::show when empty).
        std::function<void(const TransferredFile&, const QString& title, QSize shownAt)> openPicture;
    };

    PicturesSheet(StoredMessage request, std::vector<TransferredFile> files, std::function<void()> onClose,
                  Options options, QWidget* parent = nullptr);

    const StoredMessage& request() const { return request_; }
    const std::vector<TransferredFile>& files() const { return files_; }

    // Opens the picture in a window of its own, at least as large as shownAt.
    void openLarger(const TransferredFile& file, QSize shownAt = {});
    void savePicture(const TransferredFile& file);
    // The problem line shown after a failed save; empty otherwise.
    QString problemText() const;

protected:
    void done(int result) override;

private:
    QWidget* makeTile(const TransferredFile& file, QWidget* parent);

    StoredMessage request_;
    std::vector<TransferredFile> files_;
    std::function<void()> onClose_;
    Options options_;
    QLabel* problem_ = nullptr;
    bool closed_ = false;
};

} // namespace wl
