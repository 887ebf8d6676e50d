#pragma once
// The live session on the host: its peer, the state the helper is told, the events the
// helper sends, the two modes, the microphone, the shared display, suggested clicks, the
// hand-back when the user moves, the banner and the guide overlay, and the end.
//
// Main thread only (checked at its entry points); every callback it gets (peer, banner,
// overlay, displays, local input, microphone, timers) runs there.

#include "platform/ScreenSource.h"
#include "host/HelperAttempt.h"
#include "media/MicrophoneResult.h"
#include "platform/OneShotTimer.h"
#include "platform/Platform.h"
#include "protocol/ICEServer.h"
#include "protocol/SessionEvent.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wl {

class MediaEngine;

class CursorWatcher;
class GuideOverlayController;
class HelpRequestCenter;
class HostPeer;
class InputInjector;
class LocalActivityMonitor;
class Prompts;
class SessionBannerController;
class SharedDisplay;
class SignalTransport;

class HostSession final : public QObject {
    Q_OBJECT
public:
    // After a suggested click, the banner takes mouse events again after this time.
    static constexpr std::chrono::milliseconds kBannerMouseDelay{300};

    struct Options {
        // The timers (its own and the peer's), prompts and settings (required), the screen
        // it shares, the displays, input, cursor and permissions it works with.
        Platform platform;
        std::shared_ptr<DeviceIdentity> identity; // signs the answers to the helper's offers (required)
    };

    // engine: the media of its peers, and the host's audio device.
    HostSession(HelpRequestCenter& helpRequests, MediaEngine& engine, Options options, QObject* parent = nullptr);
    ~HostSession() override;

    // The helper's full name while a session runs.
    const std::optional<std::string>& helperName() const { return helperName_; }
    HostPeer* peer() const { return peer_.get(); }
    HelpMode mode() const { return mode_; }
    bool clicksGoThrough() const { return clicksGoThrough_; }
    // A notice waiting for the guide channel to open.
    const std::optional<std::string>& pendingNotice() const { return pendingNotice_; }
    bool askingTakeOver() const { return askingTakeOver_; }
    GuideOverlayController& overlay() const { return *overlay_; }
    SessionBannerController& banner() const { return *banner_; }
    InputInjector& injector() const { return *injector_; }
    CursorWatcher& cursorWatcher();
    SharedDisplay& sharedDisplay() const { return *shared_; }
    LocalActivityMonitor& localActivity();

    // Starts the session the helper was admitted to, over the attempt's transport.
    void start(const std::string& fullName, HelpMode mode, const HelperAttempt& attempt,
               std::shared_ptr<SignalTransport> transport, const std::vector<ICEServer>& relays);
    // Ends it in two steps around the closing of the attempt's transport: first the
    // peer and everything the session drives, then the banner, overlay and name.
    void stop(SessionEnd reason);
    void clear();

    void handleEvent(const SessionEvent& event);
    void sendState();
    void setMode(HelpMode mode);
    void askTakeOver();
    void selectDisplay(std::uint32_t displayId);
    void setClicksGoThrough(bool on);
    void doSuggestedClick(double x, double y);
    void doSuggestedClicksAlways(double x, double y);
    void screensChanged();
    void localActivityChanged(bool active);
    void sendCursorShape(const CursorShape& shape);
    // The banner's microphone button, the consent question's checkbox, and what follows
    // every switch of the microphone.
    void toggleMicrophoneButton();
    void turnMicrophoneOn();
    void microphoneSwitched(MicrophoneResult result);
    // The microphone stopped or came back by itself: the banner and the helper follow.
    void microphoneFollowed();

    // The session asks to end (the banner's Stop, the helper's end, a lost connection).
    std::function<void(SessionEnd)> onEnd;

Q_SIGNALS:
    void changed();

private:
    bool microphoneOn() const;
    bool microphoneLeftOn() const;
    Prompts& prompts() const;
    TimerFactory timers() const { return options_.platform.timers; }
    void setHelperName(std::optional<std::string> name);
    void refreshBannerSoon();
    void restoreBannerMouse(bool localActive);
    void sendNotice(const std::string& text);
    void requestEnd(SessionEnd reason);

    HelpRequestCenter& helpRequests_;
    MediaEngine& engine_;
    Options options_;
    std::optional<std::string> helperName_;
    std::shared_ptr<HostPeer> peer_;
    HelpMode mode_ = HelpMode::guide;
    std::optional<std::string> pendingNotice_;
    bool clicksGoThrough_ = false;
    bool askingTakeOver_ = false;
    // The display the session shares; the overlay, injector, cursor and peer read it.
    const std::shared_ptr<SharedDisplay> shared_;
    std::unique_ptr<GuideOverlayController> overlay_;
    std::unique_ptr<SessionBannerController> banner_;
    std::unique_ptr<CursorWatcher> cursorWatcher_;
    std::unique_ptr<InputInjector> injector_;
    std::unique_ptr<LocalActivityMonitor> localActivity_;
    std::unique_ptr<OneShotTimer> bannerMouseTimer_;
    int displaysObserver_ = 0;
    int microphoneWatcher_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace wl
