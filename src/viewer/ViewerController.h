#pragma once
// The viewer controller: the single owner of everything this machine does as the
// helper. It keeps the paired hosts with their presence and the remembered sets, pairs
// new hosts, connects and proves itself to a host (attended, or unattended with the
// owner check and the host's PIN), runs the live session over its peer (status line,
// the host's session events, sound and microphone) and ends it.
//
// One controller lives as long as the process; the application shell makes it right
// after the host controller. Everything runs on the main thread; closures handed to
// other objects hold the controller weakly and do nothing once it is gone.

#include "mail/StoredMessage.h"
#include "mail/TransferredFile.h"
#include "media/MicrophoneResult.h"
#include "viewer/AttachmentFetcher.h"
#include "platform/OneShotTimer.h"
#include "protocol/ICEServer.h"
#include "protocol/PairedDevice.h"
#include "protocol/PairedDeviceStore.h"
#include "protocol/SessionEvent.h"
#include "protocol/SignalMessage.h"

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace wl {

class AppServices;
class Messenger;
class MyMacs;
class Notifier;
class OwnerCheck;
class PairingClient;
class PasswordCenter;
class Prompts;
class SignalTransport;
class ViewerPeer;
struct MailContent;

class ViewerController final : public QObject {
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

    // Pairing a new host.
    struct PairingState {
        enum class Kind { verify, paired, failed, idle, connecting };
        Kind kind = Kind::idle;
        std::string hostName; // verify: the name shown
        std::string number; // verify: the comparison number
        std::string text; // paired: the stored name; failed: the message

        bool operator==(const PairingState&) const = default;
    };

    // The session being set up or running.
    struct Handshake {
        PairedDevice device;
        std::string helperNonce;
        std::optional<std::string> hostNonce;
        std::vector<ICEServer> relays;
        bool unattended = false;
    };

    struct Options {
        // The controller's timers (the process-wide ones when empty).
        TimerFactory timers;
        // Its questions, owner check and notifier (the process-wide ones when null).
        Prompts* prompts = nullptr;
        OwnerCheck* ownerCheck = nullptr;
        Notifier* notifier = nullptr;
        // The signalling link to a host (a WebSocket channel to v1/connect/<id> when
        // empty); not yet opened.
        std::function<std::shared_ptr<SignalTransport>(const std::string& deviceId)> makeTransport;
        // The presence question (the introduction service when empty).
        std::function<void(const std::string& deviceId, std::function<void(bool)> answer)> isOnline;
        // Whether sessions build a real peer (tests of the handshake alone turn it off).
        bool makesPeers = true;
    };

    static constexpr const char* kPairedHostsKey = "WLPairedHosts";
    static constexpr const char* kResolvedRequestsKey = "WLResolvedRequests";
    static constexpr const char* kKnownUnattendedKey = "WLKnownUnattended";
    static constexpr const char* kNotifyWhenOnlineKey = "WLNotifyWhenOnline";
    static constexpr const char* kSoundOnKey = "WLSoundOn";
    static constexpr std::chrono::milliseconds kPresenceInterval{10000};
    static constexpr std::chrono::milliseconds kStatusInterval{1000};
    static constexpr std::chrono::milliseconds kNoticeLifetime{8000};
    // A help request's pictures are fetched ahead: 3 s after launch, 4 s after its mail
    // arrives, and once more 10 s after a failure.
    static constexpr std::chrono::milliseconds kLaunchPrefetchDelay{3000};
    static constexpr std::chrono::milliseconds kMailPrefetchDelay{4000};
    static constexpr std::chrono::milliseconds kRetryPrefetchDelay{10000};

    explicit ViewerController(AppServices& services, QObject* parent = nullptr);
    ViewerController(AppServices& services, Options options, QObject* parent = nullptr);
    ~ViewerController() override;

    // ---- published state ----
    const Phase& phase() const { return phase_; }
    const std::vector<PairedDevice>& devices() const { return devices_; }
    const std::set<std::string>& onlineIDs() const { return onlineIDs_; }
    const PairingState& pairingState() const { return pairingState_; }
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
    bool theirMicrophoneOn() const { return theirMicrophoneOn_; }
    const std::set<std::string>& resolvedRequests() const { return resolvedRequests_; }
    const std::set<std::string>& knownUnattended() const { return knownUnattended_; }
    const std::set<std::string>& notifyWhenOnline() const { return notifyWhenOnline_; }
    const std::map<std::string, std::vector<TransferredFile>>& pictures() const { return pictures_; }
    const std::set<std::string>& fetchingPictures() const { return fetchingPictures_; }
    const std::optional<StoredMessage>& picturesShown() const { return picturesShown_; }
    // The picture sheet closes by setting it back to nullopt.
    void setPicturesShown(std::optional<StoredMessage> request);
    void setResolvedRequests(std::set<std::string> ids);
    void setKnownUnattended(std::set<std::string> ids);
    void setNotifyWhenOnline(std::set<std::string> ids);

    ViewerPeer* peer() const { return peer_.get(); }
    std::shared_ptr<ViewerPeer> sharedPeer() const { return peer_; }
    const std::optional<Handshake>& handshake() const { return handshake_; }
    bool wasAccepted() const { return wasAccepted_; }
    SignalTransport* transport() const { return transport_.get(); }
    Messenger& messenger() const { return messenger_; }
    PasswordCenter& passwords() const { return passwords_; }
    AppServices& services() const { return services_; }
    // Whether this machine waits for or is connected to a host.
    bool isHelping() const;

    // ---- paired hosts, groups and presence ----
    std::vector<std::pair<std::string, std::vector<PairedDevice>>> groupDevices() const;
    void refreshStatus();
    void setOnline(bool online, const PairedDevice& device);
    void removeDevice(const PairedDevice& device);
    void setPerson(const PairedDevice& device);
    void removeFromMyMacs(const PairedDevice& device);
    void toggleNotifyWhenOnline(const PairedDevice& device);
    void handleAccessNotice(const MailContent& content, const PairedDevice& sender);
    void myMacsRosterChanged(const std::vector<PairedDevice>& roster, const std::vector<std::string>& removedIds);
    // Back to the list from the message screen.
    void backToDevices();

    // ---- pairing ----
    bool pair(const std::string& code, const std::string& name);
    void cancelPairing();
    PairingClient* pairing() const { return pairing_.get(); }

    // ---- the handshake ----
    void connect(const PairedDevice& device, bool unattended);
    void handleSignal(const SignalMessage& message);
    void transportClosed(const PairedDevice& device);
    static std::string declineMessage(const std::optional<std::string>& reason, const std::string& name);
    // The PIN typed (possibly empty), nullopt on Cancel.
    std::optional<std::string> askPIN(const std::string& name);

    // ---- the session ----
    void end();
    void teardown(const std::optional<std::string>& text, const std::optional<SessionEvent>& goodbye = std::nullopt);
    void handleSessionEvent(const SessionEvent& event);
    void clearNotice(const std::optional<std::string>& text);
    void connectionLost();
    void startStatsTimer();
    void statusLine();
    void setConnectionInfo(const std::string& text);
    void requestControl();
    void releaseControl();
    void setSoundOn();
    void microphoneButton();
    void microphoneSwitched(MicrophoneResult result, ViewerPeer* forPeer);
    void selectDisplay(const DisplayInfo& display);
    static std::string endMessage(const std::optional<std::string>& reason, const std::string& name);

    // ---- help requests: answers and pictures ----
    // The replies this machine sent to a request.
    std::vector<StoredMessage> sentReplies(const StoredMessage& request) const;
    void sendReply(const StoredMessage& request, const std::string& text);
    // Records the request as dealt with and tells the asking Mac (a `cancel` mail). A
    // notice that can't be delivered is logged and shown.
    void markRequestDone(const StoredMessage& request);
    void sendPassword(const StoredMessage& request);
    void composeReply(const StoredMessage& message);
    // Shows the request's pictures, fetching them first when needed. When they can't be
    // fetched now (a session is live, the Mac is no longer paired) it says so.
    void showPictures(const StoredMessage& request);
    void schedulePictureFetch(const StoredMessage& request, int attemptsLeft, std::chrono::milliseconds delay);
    void prefetchPictures(const StoredMessage& request, int attemptsLeft);
    void fetchPictures(const StoredMessage& request, bool quietly, std::function<void(bool finished)> retryFetch);
    AttachmentFetcher* fetcher(const std::string& requestId) const;
    // The hub's mail handler.
    void mailReceived(const StoredMessage& message);

    // Tests and diagnostics: every signalling message sent.
    std::function<void(const SignalMessage&)> onSignalSent;

Q_SIGNALS:
    void changed();

private:
    Prompts& prompts() const;
    OwnerCheck& ownerCheck() const;
    Notifier& notifier() const;
    TimerFactory timers() const { return timersOr(options_.timers); }
    void send(const SignalMessage& message);
    void saveDevices();
    void saveSet(const char* key, const std::set<std::string>& ids);
    void schedulePresence();
    void setPhase(Phase phase);
    void handleChallenge(const SignalMessage& message);
    void handleAccepted();
    void startStatsTimerTick();
    void proveUnattended(bool confirmed, const std::string& helperNonce, const std::optional<std::string>& salt,
                         const std::string& hostNonce, const std::string& proofText);
    void pairingVerify(const std::string& typedName, const std::string& hostName, const std::string& number);
    void pairingSucceeded(const std::string& typedName, PairedDevice device);
    void pairingFailed(const std::string& message);
    void picturesFetched(const StoredMessage& request, const AttachmentFetcher::Result& result,
                         const std::function<void(bool)>& retryFetch);
    void showAlert(const std::string& title, const std::string& text);
    void later(std::chrono::milliseconds delay, std::function<void()> work);
    std::optional<PairedDevice> deviceFor(const StoredMessage& request) const;

    AppServices& services_;
    Options options_;
    Messenger& messenger_;
    PasswordCenter& passwords_;
    MyMacs& myMacs_;

    Phase phase_;
    std::vector<PairedDevice> devices_;
    std::set<std::string> onlineIDs_;
    PairingState pairingState_;
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
    bool theirMicrophoneOn_ = false;
    std::shared_ptr<ViewerPeer> peer_;
    PairedDeviceStore deviceStore_{kPairedHostsKey};
    std::set<std::string> resolvedRequests_;
    std::set<std::string> knownUnattended_;
    std::set<std::string> notifyWhenOnline_;
    std::unique_ptr<OneShotTimer> statusTimer_;
    std::unique_ptr<OneShotTimer> statsTimer_;
    long long lastFramesShown_ = 0;
    std::shared_ptr<SignalTransport> transport_;
    std::optional<Handshake> handshake_;
    bool wasAccepted_ = false;
    std::unique_ptr<PairingClient> pairing_;
    std::vector<std::unique_ptr<OneShotTimer>> noticeTimers_;
    std::map<std::string, std::vector<TransferredFile>> pictures_;
    std::set<std::string> fetchingPictures_;
    std::optional<StoredMessage> picturesShown_;
    std::map<std::string, std::unique_ptr<AttachmentFetcher>> fetchers_;
    std::set<std::string> showWhenFetched_;
    std::vector<std::unique_ptr<OneShotTimer>> prefetchTimers_;
};

} // namespace wl
