#pragma once
// The session banner's content: a dark pill with a dot in the mode's colour, who helps
// and how, the helper's microphone, and the host user's four controls: "Ask each
// time" (while the helper's clicks go through), this machine's microphone, handing
// over or taking back control, and Stop. It shows its own copy of the model, which its
// owner hands it at each change: a banner on its way out reads nothing of an owner that
// may be gone.

#include "protocol/SessionEvent.h"
#include "style/Widgets.h"

#include <QWidget>

#include <functional>
#include <string>

class QAbstractButton;
class QLabel;

namespace wl {

// What the banner shows.
struct SessionBannerModel {
    std::string helperFirstName;
    HelpMode mode = HelpMode::guide;
    bool localActive = false;
    bool clicksGoThrough = false;
    bool microphoneOn = false;
    // The microphone was left on but its input device went away: it shows off, and comes
    // back on by itself with the next input device.
    bool microphoneAway = false;
    bool helperMicrophoneOn = false;
};

class SessionBannerView final : public FloatingPanel {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> onToggleControl;
        std::function<void()> onAskEachTime;
        std::function<void()> onToggleMicrophone;
        std::function<void()> onStop;
    };

    SessionBannerView(SessionBannerModel model, Actions actions, QWidget* parent = nullptr);

    // The status line for a model.
    static QString statusLine(const SessionBannerModel& model);
    // Follows the model: texts, colours, which controls show.
    void refresh(SessionBannerModel model);

    QLabel* status() const { return status_; }
    QWidget* helperMicrophone() const { return helperMicrophone_; }
    QAbstractButton* askEachTimeButton() const { return askEachTime_; }
    QAbstractButton* microphoneButton() const { return microphone_; }
    QAbstractButton* controlButton() const { return control_; }
    QAbstractButton* stopButton() const { return stop_; }

private:
    void redraw();

    SessionBannerModel model_;
    Actions actions_;
    QWidget* dot_ = nullptr;
    QLabel* status_ = nullptr;
    QWidget* helperMicrophone_ = nullptr;
    QAbstractButton* askEachTime_ = nullptr;
    QAbstractButton* microphone_ = nullptr;
    QAbstractButton* control_ = nullptr;
    QAbstractButton* stop_ = nullptr;
};

} // namespace wl
