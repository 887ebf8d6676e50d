#pragma once
// The viewer controller: the single owner of everything this machine does as the
// helper. It owns and wires the parts that do it:
//   - PairedHosts: the paired hosts with their presence and remembered sets, and pairing;
//   - ViewerSession: connecting and proving itself to a host, and the live session;
//   - RequestAnswers: answering the hosts' help requests and fetching their pictures;
// and hands them the services hub's mail, contact list and My Macs roster.
//
// One controller lives as long as the process; the application shell makes it right
// after the host controller. Everything runs on the main thread; closures handed to
// other objects hold the controller weakly and do nothing once it is gone.

#include "platform/KeyboardLayout.h"
#include "platform/Platform.h"
#include "viewer/PairedHosts.h"
#include "viewer/RequestAnswers.h"
#include "viewer/ViewerSession.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>

namespace wl {

class MediaEngine;

class AppServices;
class Messenger;
class Notifier;
class OwnerCheck;
class PasswordCenter;
class Prompts;
class SignalTransport;

class ViewerController final : public QObject {
    Q_OBJECT
public:
    using Phase = ViewerSession::Phase;
    using PairingState = PairedHosts::PairingState;

    struct Options {
        // The system's services; the settings are its defaults. Its settings, timers,
        // prompts, owner check and notifier are required.
        Platform platform;
        // The signalling link to a host (a WebSocket channel to v1/connect/<id> when
        // empty); not yet opened.
        std::function<std::shared_ptr<SignalTransport>(const std::string& deviceId)> makeTransport;
        // The presence question (the introduction service when empty).
        std::function<void(const std::string& deviceId, std::function<void(bool)> answer)> isOnline;
        // Whether sessions build a real peer (tests of the handshake alone turn it off).
        bool makesPeers = true;
        // The device this helper is (required).
        std::shared_ptr<DeviceIdentity> identity;
    };

    // engine: the program's media engine, which its sessions and picture links use.
    ViewerController(AppServices& services, MediaEngine& engine, Options options, QObject* parent = nullptr);
    ~ViewerController() override;

    // ---- the parts ----
    PairedHosts& hosts() const { return *hosts_; }
    ViewerSession& session() const { return *session_; }
    RequestAnswers& answers() const { return *answers_; }
    AppServices& services() const { return services_; }
    Messenger& messenger() const { return messenger_; }
    PasswordCenter& passwords() const { return passwords_; }
    const std::shared_ptr<KeyboardLayout>& keyboardLayout() const { return keyboardLayout_; }

    // Whether this machine waits for or is connected to a host.
    bool isHelping() const { return session_->isHelping(); }
    // Back to the list from the message screen.
    void backToDevices();

Q_SIGNALS:
    // Any part changed: the hosts, the session (but not its status line), the answers or
    // My Macs. Views that show one part listen to that part's own signal instead.
    void changed();

private:
    AppServices& services_;
    Messenger& messenger_;
    PasswordCenter& passwords_;
    const std::shared_ptr<KeyboardLayout> keyboardLayout_;
    std::unique_ptr<PairedHosts> hosts_;
    std::unique_ptr<RequestAnswers> answers_;
    std::unique_ptr<ViewerSession> session_;
};

} // namespace wl
