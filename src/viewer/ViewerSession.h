#pragma once
// The helper's session with a host: connecting and proving itself (attended, or
// unattended with the owner check and the host's PIN), the running session over its
// peer (the status line, the host's session events, sound and microphone) and every end
// of it, with what the main window shows meanwhile.
//
// Main thread only (checked at its entry points); every callback it gets (signalling,
// peer, owner check, timers, microphone) runs there.

#include "media/MicrophoneResult.h"
#include "platform/Defaults.h"
#include "platform/InfoDictionary.h"
#include "platform/OneShotTimer.h"
#include "protocol/ICEServer.h"
#include "protocol/PairedDevice.h"
#include "protocol/SessionEvent.h"
#include "protocol/SignalMessage.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace wl {

class MediaEngine;

class AppServices;
class DeviceIdentity;
class Messenger;
class OwnerCheck;
class PairedHosts;
class Prompts;
class RequestAnswers;
class SignalTransport;
class ViewerPeer;

class ViewerSession final : public QObject {
    Q_OBJECT
public:
    // What the main window shows.
    struct Phase {
        enum class Kind { waiting, connected, message, browsing };
        Kind kind = Kind::browsing;
        std::string text; // the host's name (waiting, connected) or the message

        static Phase waiting(std::string name) { return {Kind::waiting, std::move(name)}; }
        static Phase connected(std::string name) { return {Kind::connected, std::move(name)}; }
        static Phase message(std::string text) { return {Kind::message, std::move(text)}; }
        static Phase browsing() { return {}; }
        bool operator==(const Phase&) const = default;
    };

    // The session being set up or running.
    struct Handshake {
        PairedDevice device;
        std::string helperNonce;
        std::optional<std::string> hostNonce;
        std::vector<ICEServer> relays;
        bool unattended = false;
    };

    struct Parts {
        AppServices& services;
        Messenger& messenger;
        PairedHosts& hosts;
        RequestAnswers& answers;
        MediaEngine& engine; // the media of its peers, and the helper's audio device
        std::shared_ptr<DeviceIdentity> identity; // the device this helper proves to be
    };
    struct Options {
        TimerFactory timers;
        std::shared_ptr<Defaults> defaults; // WLSoundOn, the peer's settings (required)
        std::shared_ptr<const InfoDictionary> info = std::make_shared<MapInfoDictionary>(); // the service's address
        Prompts* prompts = nullptr; // required
        OwnerCheck* ownerCheck = nullptr; // required
        // The signalling link to a host (a WebSocket channel to v1/connect/<id> when
        // empty); not yet opened.
        std::function<std::shared_ptr<SignalTransport>(const std::string& deviceId)> makeTransport;
        // Whether sessions build a real peer (tests of the handshake alone turn it off).
        bool makesPeers = true;
    };

    static constexpr const char* kSoundOnKey = "WLSoundOn";
    static constexpr std::chrono::milliseconds kStatusInterval{1000};
    static constexpr std::chrono::milliseconds kNoticeLifetime{8000};

    ViewerSession(Parts parts, Options options, QObject* parent = nullptr);
    ~ViewerSession() override;

    const Phase& phase() const { return phase_; }
    // Whether this machine waits for or is connected to a host.
    bool isHelping() const;
    // Back to the list from the message screen.
    void showDevices() { setPhase(Phase::browsing()); }
    const std::string& connectionInfo() const { return connectionInfo_; }
    HelpMode mode() const { return mode_; }
    bool theyHaveTheMouse() const { return theyHaveTheMouse_; }
    const std::optional<std::string>& notice() const { return notice_; }
    bool controlRequested() const { return controlRequested_; }
    const std::optional<CursorShape>& remoteCursor() const { return remoteCursor_; }
    bool clicksGoThrough() const { return clicksGoThrough_; }
    const std::vector<DisplayInfo>& displays() const { return displays_; }
    std::optional<std::uint32_t> sharedDisplayID() const { return sharedDisplayID_; }
    bool soundOn() const { return soundOn_; }
    bool microphoneOn() const { return microphoneOn_; }
    // The helper left the microphone on, but its input device went away: nothing records
    // until one comes back, and then the microphone comes back on by itself.
    bool microphoneAway() const { return microphoneAway_; }
    bool theirMicrophoneOn() const { return theirMicrophoneOn_; }
    ViewerPeer* peer() const { return peer_.get(); }
    std::shared_ptr<ViewerPeer> sharedPeer() const { return peer_; }
    const std::optional<Handshake>& handshake() const { return handshake_; }
    bool wasAccepted() const { return wasAccepted_; }
    SignalTransport* transport() const { return transport_.get(); }

    // ---- the handshake ----
    void connect(const PairedDevice& device, bool unattended);

    // ---- the session ----
    void end();
    // The host's session events as the guide channel brings them (public for the tests,
    // which have no peer to bring them).
    void handleEvent(const SessionEvent& event);
    // The status line as the stats tick sets it (public for the tests and the gallery,
    // which show a session's status without a peer).
    void setConnectionInfo(const std::string& text);
    void requestControl();
    void releaseControl();
    void setSoundOn();
    void microphoneButton();
    void selectDisplay(const DisplayInfo& display);

    // Called with every signalling message sent.
    std::function<void(const SignalMessage&)> onSignalSent;

Q_SIGNALS:
    // The phase, the host's session events, sound, microphones, the notice or the peer.
    void changed();
    // The status line alone (connectionInfo), which moves on every second of a session.
    void statusChanged();

private:
    Prompts& prompts() const;
    OwnerCheck& ownerCheck() const;
    TimerFactory timers() const { return options_.timers; }
    void send(const SignalMessage& message);
    void setPhase(Phase phase);
    void handleSignal(const SignalMessage& message);
    // The link to the host closed, with the code the service gave (0: none).
    void transportClosed(const PairedDevice& device, int closeCode = 0);
    static std::string declineMessage(const std::optional<std::string>& reason, const std::string& name);
    // The PIN typed (possibly empty), nullopt on Cancel.
    std::optional<std::string> askPIN(const std::string& name);
    void handleChallenge(const SignalMessage& message);
    void handleAccepted();
    void teardown(const std::optional<std::string>& text, const std::optional<SessionEvent>& goodbye = std::nullopt);
    void clearNotice(const std::optional<std::string>& text);
    void connectionLost();
    void startStatsTimer();
    void startStatsTimerTick();
    void statusLine();
    void microphoneSwitched(MicrophoneResult result, ViewerPeer* forPeer);
    // The microphone stopped or came back by itself: the host is told what records now.
    void microphoneFollowed();
    static std::string endMessage(const std::optional<std::string>& reason, const std::string& name);
    void proveUnattended(bool confirmed, const std::string& helperNonce, const std::optional<std::string>& salt,
                         const std::string& hostNonce, const std::string& proofText);

    Parts parts_;
    Options options_;
    Phase phase_;
    std::string connectionInfo_;
    HelpMode mode_ = HelpMode::guide;
    bool theyHaveTheMouse_ = false;
    std::optional<std::string> notice_;
    bool controlRequested_ = false;
    std::optional<CursorShape> remoteCursor_;
    bool clicksGoThrough_ = false;
    std::vector<DisplayInfo> displays_;
    std::optional<std::uint32_t> sharedDisplayID_;
    bool soundOn_ = true;
    bool microphoneOn_ = false;
    bool microphoneAway_ = false;
    bool theirMicrophoneOn_ = false;
    int microphoneWatcher_ = 0;
    std::shared_ptr<ViewerPeer> peer_;
    std::unique_ptr<OneShotTimer> statsTimer_;
    long long lastFramesShown_ = 0;
    std::shared_ptr<SignalTransport> transport_;
    std::optional<Handshake> handshake_;
    bool wasAccepted_ = false;
    std::vector<std::unique_ptr<OneShotTimer>> noticeTimers_;
};

} // namespace wl
