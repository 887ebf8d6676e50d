#pragma once
// The host controller: the single owner of everything this machine does as the one
// that gets help. It accepts or refuses help requests (which opens and closes the
// standing relay link to the introduction service), watches the permissions, and owns
// and wires the parts that do the rest:
//   - PairedHelpers: the helpers paired with this machine, pairing and unattended access;
//   - HostHandshake: the signed handshake with a helper who connects;
//   - HostSession: the live session over its peer, the banner and the guide overlay.
//
// One controller lives as long as the process; the application shell makes it right
// after the services hub. Everything runs on the main thread; closures handed to other
// objects hold the controller weakly.

#include "host/HelperAttempt.h"
#include "platform/OneShotTimer.h"
#include "platform/Platform.h"
#include "protocol/PairedDevice.h"

#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace wl {

class MediaEngine;

class AppServices;
class AskForHelpPanelController;
class DeviceIdentity;
class HelpRequestCenter;
class HostHandshake;
class HostSession;
class KeepAwake;
class Messenger;
class PairedHelpers;
class PasswordCenter;
class Prompts;
class RelayLink;
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
    using EndReason = SessionEnd;

    struct Options {
        // The system's services (start-up gives the desktop's); its settings, timers and
        // prompts are required.
        Platform platform;
        // The device this host is (required).
        std::shared_ptr<DeviceIdentity> identity;
    };

    static constexpr const char* kAcceptHelpRequestsKey = "WLAcceptHelpRequests";
    static constexpr const char* kToldNoScreenRecordingKey = "WLToldHelpersNoScreenRecording";
    static constexpr std::chrono::milliseconds kPermissionInterval{60000};

    // engine: the program's media engine, which its sessions and picture links use.
    HostController(AppServices& services, MediaEngine& engine, Options options, QObject* parent = nullptr);
    ~HostController() override;

    // ---- published state ----
    bool isListening() const { return isListening_; }
    bool isOnline() const { return isOnline_; }
    const std::optional<std::string>& helperName() const;
    const std::vector<PairedDevice>& helpers() const;
    bool isPairing() const;
    bool opensAtLogin() const { return opensAtLogin_; }
    // The system's services it was given, for the parts of the shell that work with it.
    const Platform& platform() const { return options_.platform; }
    bool canRecordScreen() const { return canRecordScreen_; }
    bool canControl() const { return canControl_; }
    // The first line of the host menu.
    std::string statusLine() const;

    // ---- the parts ----
    PairedHelpers& pairedHelpers() const { return *helpers_; }
    HostHandshake& handshake() const { return *handshake_; }
    HostSession& session() const { return *session_; }
    HelpRequestCenter& helpRequests() const { return *helpRequests_; }
    AskForHelpPanelController& askForHelpPanel() const { return *askForHelpPanel_; }
    AppServices& services() const { return services_; }
    Messenger& messenger() const { return messenger_; }
    PasswordCenter& passwords() const { return passwords_; }

    // ---- accepting help requests ----
    void setAcceptingHelpRequests(bool on);
    void setOpensAtLogin(bool on);
    void relayOnlineChanged(bool online);
    // The hub's handlers: received mail, the contact list, the My Macs listener.
    void messageReceived(const StoredMessage& message);
    void helpersChanged(const std::vector<PairedDevice>& roster, const std::vector<std::string>& removedIds);
    // Withdraws the removed helpers' open challenges and ends an attempt of one of them.
    void helpersRemoved(const std::set<std::string>& ids);
    // Ends the session or the attempt in progress.
    void endSession(EndReason reason);

    // ---- permissions and telling helpers ----
    void checkPermissions();
    void tellHelpersNoScreenRecording();

Q_SIGNALS:
    void changed();

private:
    QString helperNameText() const { return QString::fromStdString(helperName().value_or("")); }
    QString statusLineText() const { return QString::fromStdString(statusLine()); }
    TimerFactory timers() const { return options_.platform.timers; }
    void armPermissionTimer();
    void setPublished(bool& field, bool value);

    AppServices& services_;
    Options options_;
    Messenger& messenger_;
    PasswordCenter& passwords_;

    bool isListening_ = false;
    bool isOnline_ = false;
    bool opensAtLogin_ = false;
    bool canRecordScreen_ = true;
    bool canControl_ = true;
    std::unique_ptr<RelayLink> relay_;
    std::unique_ptr<KeepAwake> keepAwake_;
    std::unique_ptr<AskForHelpPanelController> askForHelpPanel_;
    std::unique_ptr<HelpRequestCenter> helpRequests_;
    std::unique_ptr<PairedHelpers> helpers_;
    std::unique_ptr<HostSession> session_;
    std::unique_ptr<HostHandshake> handshake_;
    std::unique_ptr<OneShotTimer> permissionTimer_;
};

} // namespace wl
