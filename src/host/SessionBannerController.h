#pragma once
// The session banner: who is helping, in which mode, the microphones, and the buttons
// to switch control, ask before clicks, switch the microphone and stop. Its window
// comes with a later change; until then the controller keeps the model and the
// actions, and shows nothing.

#include "protocol/SessionEvent.h"

#include <QObject>

#include <functional>
#include <string>

namespace wl {

struct SessionBannerModel {
    std::string helperFirstName;
    HelpMode mode = HelpMode::guide;
    bool localActive = false;
    bool clicksGoThrough = false;
    bool microphoneOn = false;
    bool helperMicrophoneOn = false;
};

class SessionBannerController final : public QObject {
    Q_OBJECT
public:
    explicit SessionBannerController(QObject* parent = nullptr) : QObject(parent) { }

    SessionBannerModel model;

    // The banner's buttons.
    struct Actions {
        std::function<void()> onToggleControl;
        std::function<void()> onAskEachTime;
        std::function<void()> onToggleMicrophone;
        std::function<void()> onStop;
    };

    // Shows the banner for a session with these actions.
    void present(Actions actions);
    void hide();
    // Sizes and places the banner for the current model.
    void refreshPlacement();
    // Whether the banner lets mouse events through to what is below it.
    void setIgnoresMouseEvents(bool ignores) { ignoresMouse_ = ignores; }

    bool isShown() const { return shown_; }
    bool ignoresMouseEvents() const { return ignoresMouse_; }
    const Actions& actions() const { return actions_; }

private:
    Actions actions_;
    bool shown_ = false;
    bool ignoresMouse_ = false;
};

} // namespace wl
