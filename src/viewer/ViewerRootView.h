#pragma once
// The content of the helper's main window. It observes the viewer's session and shows
// one of four screens by its phase: the list of paired Macs while browsing, a waiting
// screen while the host decides, the live session (the session bar, an optional notice
// and the remote screen), or a message after a session ended or failed with "Back to
// devices". Every screen and the bar are made once and show a change in the widgets
// they have; the status line's ticks touch the status label alone. Its controls call the
// controller's operations; it keeps no state of its own beyond what it shows.

#include "protocol/SessionEvent.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <vector>

class QLabel;
class QPushButton;
class QStackedLayout;
class QToolButton;
class QVBoxLayout;

namespace wl {

class RemoteScreenView;
class ViewerController;
class ViewerPeer;

class ViewerRootView final : public QWidget {
    Q_OBJECT
public:
    // browsing: the list of people and Macs (the application's), which this view takes.
    ViewerRootView(ViewerController& controller, QWidget* browsing, QWidget* parent = nullptr);
    ~ViewerRootView() override;

    ViewerController& controller() const { return *controller_; }
    RemoteScreenView* remoteScreen() const { return remoteScreen_; }

    void selectDisplay(const DisplayInfo& display);
    void microphoneButton();
    void sendPasswordButton();

    // For tests and the gallery: the texts shown now.
    QString waitingText() const;
    QString messageText() const;
    QString modeText() const;
    QString takeOverText() const;
    bool takeOverEnabled() const;
    bool displayChooserShown() const;
    QString displayChooserText() const;
    QString noticeText() const;
    QString microphoneText() const;
    QString statusText() const;
    // The screen shown: "browsing", "waiting", "connected" or "message".
    QString screenName() const;

private:
    void refresh();
    void refreshStatus();
    void fitBar();
    QWidget* makeWaiting();
    QWidget* makeSession();
    QWidget* makeMessage();
    void fitWindowToSession(bool inSession);

    QPointer<ViewerController> controller_;
    QStackedLayout* screens_ = nullptr;
    QWidget* browsing_ = nullptr;
    QLabel* waitingLabel_ = nullptr;
    QLabel* messageLabel_ = nullptr;
    QWidget* session_ = nullptr;
    QVBoxLayout* sessionLayout_ = nullptr;
    QWidget* sessionBar_ = nullptr;
    // The window's own minimum width while a session's bar asks for more (-1: not raised).
    int windowMinimumWidth_ = -1;
    QLabel* hostName_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* modeLabel_ = nullptr;
    QToolButton* displayChooser_ = nullptr;
    std::vector<DisplayInfo> shownDisplays_; // those the chooser's menu holds
    QPushButton* releaseButton_ = nullptr;
    QPushButton* takeOverButton_ = nullptr;
    QPushButton* soundButton_ = nullptr;
    QLabel* theirMic_ = nullptr;
    QPushButton* micButton_ = nullptr;
    QPushButton* passwordButton_ = nullptr;
    QLabel* notice_ = nullptr;
    RemoteScreenView* remoteScreen_ = nullptr;
    ViewerPeer* shownPeer_ = nullptr;
};

} // namespace wl
