#pragma once
// The host controller: the single owner of everything this machine does as the one
// that gets help. It keeps the paired helpers, accepts or refuses help requests (which
// opens and closes the standing relay link to the introduction service), runs the
// signed handshake with a helper who connects (with the user's consent, or unattended
// with a PIN), runs the live session over its peer and ends it, pairs new helpers, and
// keeps the session history.
//
// One controller lives as long as the process; the application shell makes it right
// after the services hub. Everything runs on the main thread; closures handed to other
// objects hold the controller weakly.

#include "mail/TransferredFile.h"
#include "platform/OneShotTimer.h"
#include "protocol/ICEServer.h"
#include "protocol/PairedDevice.h"
#include "protocol/PairedDeviceStore.h"
#include "protocol/SessionEvent.h"
#include "protocol/SignalMessage.h"

#include "media/MicrophoneResult.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace wl {

class AppServices;
class AskForHelpPanelController;
class CursorWatcher;
class FileLinkPeer;
class GuideOverlayController;
class HelpRequestCenter;
class HostPeer;
class InputInjector;
class KeepAwake;
class LocalActivityMonitor;
class Messenger;
class PairingHost;
class PairingPanelController;
class PasswordCenter;
class Prompts;
class RelayLink;
class SessionBannerController;
class SignalTransport;
struct StoredMessage;

class HostController final : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isListening READ isListening NOTIFY changed)
    Q_PROPERTY(bool isOnline READ isOnline NOTIFY changed)
    Q_PROPERTY(QString helperName READ helperNameText NOTIFY changed)
    Q_PROPERTY(bool isPairing READ isPairing NOTIFY changed)
    Q_PROPERTY(bool opensAtLogin READ opensAtLogin WRITE setOpensAtLogin NOTIFY changed)
    Q_PROPERTY(bool canRecordScreen READ canRecordScreen NOTIFY changed)
    Q_PROPERTY(bool canControl READ canControl NOTIFY changed)
    Q_PROPERTY(QString statusLine READ statusLineText NOTIFY changed)
public:
    // The handshake or session in progress.
    struct Handshake {
        PairedDevice helper;
        std::string helperNonce;
        std::string hostNonce;
        bool unattended = false;
        std::optional<std::vector<TransferredFile>> attachments; // a picture fetch
    };

    // How a session ends; the wire word travels in `bye` and in the goodbye event.
    enum class EndReason { stopped = 0, helperLeft = 1, connectionLost = 2, accessRemoved = 3 };
    static std::string wireWord(EndReason reason);

    // The path a signalling message left by.
    enum class Route { relayChannel, sessionTransport };

    struct Options {
        // The controller's own timers and the peer's failure grace (the process-wide
        // timers when empty).
        TimerFactory timers;
        // The questions it asks (the process-wide prompts when null).
        Prompts* prompts = nullptr;
    };

    static constexpr const char* kAcceptHelpRequestsKey = "WLAcceptHelpRequests";
    static constexpr const char* kPairedHelpersKey = "WLPairedHelpers";
    static constexpr const char* kToldNoScreenRecordingKey = "WLToldHelpersNoScreenRecording";
    static constexpr const char* kToldAccessKey = "WLToldHelpersAccess";
    static constexpr const char* kToldAccessAtKey = "WLToldHelpersAccessAt";
    // Once a helper has proved who they are, the connection must stand within this time, a
    // consent question on screen aside; otherwise the attempt ends and the host is free again.
    static constexpr std::chrono::milliseconds kHandshakeTimeLimit{45000};
    // A challenged helper has this long to prove who they are: their person may be typing
    // a password and a PIN. Until then they hold nothing: others are challenged meanwhile.
    static constexpr std::chrono::milliseconds kProofTimeLimit{120000};
    // Connectors the host keeps track of before they prove who they are (the service binds
    // fewer); past this, the oldest is forgotten.
    static constexpr std::size_t kMaxConnectors = 64;
    static constexpr std::chrono::milliseconds kPermissionInterval{60000};
    static constexpr int kMaxWrongPINs = 5;
    // After a suggested click, the banner takes mouse events again after this time.
    static constexpr std::chrono::milliseconds kBannerMouseDelay{300};

    explicit HostController(AppServices& services, QObject* parent = nullptr);
    HostController(AppServices& services, Options options, QObject* parent = nullptr);
    ~HostController() override;

    // ---- published state ----
    bool isListening() const { return isListening_; }
    bool isOnline() const { return isOnline_; }
    const std::optional<std::string>& helperName() const { return helperName_; }
    const std::vector<PairedDevice>& helpers() const { return helpers_; }
    bool isPairing() const { return isPairing_; }
    bool opensAtLogin() const { return opensAtLogin_; }
    bool canRecordScreen() const { return canRecordScreen_; }
    bool canControl() const { return canControl_; }
    // The first line of the host menu.
    std::string statusLine() const;

    // ---- accepting help requests ----
    void setAcceptingHelpRequests(bool on);
    void setOpensAtLogin(bool on);
    HelpRequestCenter& helpRequests();
    void relayOnlineChanged(bool online);
    // The hub's handlers: received mail, the contact list, the My Macs listener.
    void messageReceived(const StoredMessage& message);
    std::vector<PairedDevice> helpersProvider() const { return helpers_; }
    void helpersChanged(const std::vector<PairedDevice>& roster, const std::vector<std::string>& removedIds);

    // ---- the handshake ----
    // Every message of the relay link comes here.
    void handleSignal(const SignalMessage& message);
    std::optional<std::string> signAnswer(const std::string& sdp, const Handshake& handshake) const;

    // ---- the session ----
    void startSession(const std::string& fullName, HelpMode mode, const Handshake& handshake);
    void endSession(EndReason reason);
    void handleSessionEvent(const SessionEvent& event);
    void sendSessionState();
    void setMode(HelpMode mode);
    void askTakeOver();
    void selectDisplay(std::uint32_t displayId);
    void setClicksGoThrough(bool on);
    void doSuggestedClick(double x, double y);
    void doSuggestedClicksAlways(double x, double y);
    void screensChanged();
    void localActivityChanged(bool active);
    void sendCursorShape(const CursorShape& shape);
    // The banner's microphone button, and what follows every switch of the microphone.
    void toggleMicrophoneButton();
    void microphoneSwitched(MicrophoneResult result);

    // ---- paired helpers ----
    void startPairing();
    void confirmPairing(const std::string& name, const std::string& publicKey, const std::string& number);
    void pairingFailed(const std::optional<std::string>& reason);
    void allowUnattendedAccess(const PairedDevice& helper);
    void turnOffUnattendedAccess(const PairedDevice& helper);
    void removeHelper(const PairedDevice& helper);
    void composeMessage(const StoredMessage& message);
    // The PIN, "" for no PIN, nullopt when the user cancelled.
    std::optional<std::string> askForUnattendedPIN(const std::string& name);
    // The first word of a name from another machine, as shown (shownName).
    static std::string firstWord(const std::string& name);

    // ---- permissions and telling helpers ----
    void checkPermissions();
    void tellHelpersNoScreenRecording();
    void tellHelpersAboutAccess();

    // ---- for diagnostics and tests ----
    // Called with every signalling message the controller sends, and its path.
    std::function<void(const SignalMessage&, Route)> onSignalSent;
    const std::optional<Handshake>& handshake() const { return handshake_; }
    bool hasSessionTransport() const { return sessionTransport_ != nullptr; }
    HostPeer* peer() const { return peer_.get(); }
    FileLinkPeer* filePeer() const { return filePeer_.get(); }
    const std::vector<ICEServer>& sessionRelays() const { return sessionRelays_; }
    bool askingConsent() const { return askingConsent_; }
    HelpMode mode() const { return mode_; }
    bool clicksGoThrough() const { return clicksGoThrough_; }
    const std::optional<std::string>& pendingNotice() const { return pendingNotice_; }
    RelayLink& relay() const { return *relay_; }
    KeepAwake& keepAwake() const { return *keepAwake_; }
    GuideOverlayController& overlay() const { return *overlay_; }
    SessionBannerController& banner() const { return *banner_; }
    InputInjector& injector() const { return *injector_; }
    CursorWatcher& cursorWatcher();
    LocalActivityMonitor& localActivity();
    PairingHost* pairing() const { return pairing_.get(); }
    PairingPanelController& pairingPanel() const { return *pairingPanel_; }
    AskForHelpPanelController& askForHelpPanel() const { return *askForHelpPanel_; }
    Messenger& messenger() const { return messenger_; }
    PasswordCenter& passwords() const { return passwords_; }
    AppServices& services() const { return services_; }

Q_SIGNALS:
    void changed();

private:
    QString helperNameText() const { return QString::fromStdString(helperName_.value_or("")); }
    QString statusLineText() const { return QString::fromStdString(statusLine()); }
    Prompts& prompts() const;
    TimerFactory timers() const { return timersOr(options_.timers); }

    // handshake steps
    void handleHello(const SignalMessage& message);
    void handleProof(const SignalMessage& message);
    void handleOffer(const SignalMessage& message);
    void admitUnattended(const Handshake& handshake, const std::optional<std::string>& pinProof);
    void askConsent(const std::string& fullName, const Handshake& handshake);
    void sendRequestPictures(const std::vector<TransferredFile>& pictures, const Handshake& handshake);
    void sendOnRelay(const SignalMessage& message, std::optional<std::uint64_t> channel);
    void sendOnSession(const SignalMessage& message);
    void decline(const std::string& reason, Route route, std::optional<std::uint64_t> channel = {});
    bool fromAttempt(std::uint64_t channel) const;
    void connectorLeft(std::uint64_t channel);
    void proofTimedOut(std::uint64_t channel, const std::string& hostNonce);
    // Lets the links of a helper's open challenges go, telling them why.
    void forgetChallenges(const std::string& helperId, EndReason reason);
    void armHandshakeTimer();
    void armPermissionTimer();
    void handshakeTimeCheck();
    bool attemptConnected() const;
    void saveHelpers();
    void setHelpers(std::vector<PairedDevice> helpers);
    std::optional<std::size_t> helperIndex(const std::string& id) const;
    void setPublished(bool& field, bool value);
    void setHelperName(std::optional<std::string> name);
    void refreshBannerSoon();
    void restoreBannerMouse(bool localActive);
    void sendNotice(const std::string& text);

    AppServices& services_;
    Options options_;
    Messenger& messenger_;
    PasswordCenter& passwords_;

    bool isListening_ = false;
    bool isOnline_ = false;
    std::optional<std::string> helperName_;
    std::vector<PairedDevice> helpers_;
    bool isPairing_ = false;
    PairedDeviceStore helperStore_{kPairedHelpersKey};
    std::unique_ptr<RelayLink> relay_;
    // A helper's link as the service binds it to the relay link (its channel), before the
    // helper has proved who they are.
    struct Connector {
        std::vector<ICEServer> relays;
        std::optional<Handshake> challenged; // the hello passed; the challenge went out
        std::unique_ptr<OneShotTimer> expiry;
    };
    std::map<std::uint64_t, Connector> connectors_; // by channel (0: untagged), oldest first
    // The channel of the helper in the attempt; empty once that link has closed, so that
    // nothing from a later connector can reach the attempt.
    std::optional<std::uint64_t> attemptChannel_;
    std::shared_ptr<SignalTransport> sessionTransport_;
    std::optional<Handshake> handshake_;
    std::vector<ICEServer> sessionRelays_;
    bool askingConsent_ = false;
    std::shared_ptr<HostPeer> peer_;
    std::unique_ptr<FileLinkPeer> filePeer_;
    bool fileOfferApplied_ = false;
    std::unique_ptr<PairingHost> pairing_;
    std::unique_ptr<PairingPanelController> pairingPanel_;
    std::unique_ptr<GuideOverlayController> overlay_;
    std::unique_ptr<SessionBannerController> banner_;
    HelpMode mode_ = HelpMode::guide;
    std::optional<std::string> pendingNotice_;
    bool clicksGoThrough_ = false;
    std::unique_ptr<CursorWatcher> cursorWatcher_;
    std::unique_ptr<InputInjector> injector_;
    std::unique_ptr<LocalActivityMonitor> localActivity_;
    bool opensAtLogin_ = false;
    bool canRecordScreen_ = true;
    bool canControl_ = true;
    std::unique_ptr<KeepAwake> keepAwake_;
    std::unique_ptr<OneShotTimer> permissionTimer_;
    std::unique_ptr<HelpRequestCenter> helpRequests_;
    std::unique_ptr<AskForHelpPanelController> askForHelpPanel_;
    std::set<std::string> tellingAccess_;
    std::unique_ptr<OneShotTimer> handshakeTimer_;
    std::unique_ptr<OneShotTimer> bannerMouseTimer_;
    int displaysObserver_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace wl
