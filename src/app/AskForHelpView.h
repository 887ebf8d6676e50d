#pragma once
// The content of the "Ask for help" panel. With no help request open it is the compose
// form: a topic, a note, up to three pictures (screenshot, files, drops and pastes) and
// Send. While a request is open it is the sent state: to whom it went, what was asked,
// the replies and passwords that came back, and the ways out (Cancel Request, Close).
// The face is chosen again at every change of the help request centre or the history;
// the topic and the note live as long as the view.

#include "mail/HelpTopic.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QHBoxLayout;
class QVBoxLayout;

namespace wl {

class HelpRequestCenter;
class Messenger;
class RoundedBox;
class TopicChip;

class AskForHelpView final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 400;
    static constexpr int kMinimumHeight = 480; // the compose form's

    AskForHelpView(HelpRequestCenter& center, std::function<void()> onClose, QWidget* parent = nullptr);

    // As wide as kWidth, and as high as its content at that width; narrower beside a
    // scroll bar.
    QSize sizeHint() const override;

    const std::optional<HelpTopic>& topic() const { return topic_; }
    bool dropTargeted() const { return dropTargeted_; }
    // The Send action: the centre sends the topic and the note as typed.
    void send();
    // The Paste command outside the note field: pictures on the clipboard join the draft.
    void paste();

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void redraw();
    void redrawCompose();
    void redrawPictures();
    void rebuildSent();
    void setDropTargeted(bool targeted);
    void returnPressed();
    void escapePressed();

    QPointer<HelpRequestCenter> center_;
    QPointer<Messenger> messenger_;
    std::function<void()> onClose_;
    std::optional<HelpTopic> topic_;
    bool dropTargeted_ = false;

    QWidget* compose_;
    QWidget* sent_ = nullptr;
    QVBoxLayout* faces_;
    QLabel* composeTitle_;
    std::vector<TopicChip*> chips_;
    QPlainTextEdit* note_;
    QWidget* lockWarning_;
    QLabel* lockWarningText_;
    RoundedBox* pictures_;
    QLabel* picturesHeading_;
    QHBoxLayout* pictureRow_;
    std::vector<QWidget*> pictureItems_;
    QLabel* problem_;
    QPushButton* sendButton_;
    QProgressBar* spinner_;
};

} // namespace wl
