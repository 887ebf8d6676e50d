#pragma once
// Fetching the pictures of one help request from the Mac that asked: the helper reaches
// that host through the introduction service's connect path, proves itself with the
// same signed exchange as a session (the hello says purpose "attachments" and names the
// request), and collects the files over a peer-to-peer file link. It reports once, with
// the files or with a Failure, and then tears everything down and tells the host `bye`.
//
// Once the file link's connection stands, the signalling path may close without ending
// the fetch: the pictures keep coming directly. 40 seconds after start it gives up.
//
// Main thread only; every callback it gets (channel, file link, time-out) runs there.

#include "mail/TransferredFile.h"
#include "platform/Defaults.h"
#include "platform/InfoDictionary.h"
#include "platform/OneShotTimer.h"
#include "protocol/ICEServer.h"
#include "protocol/PairedDevice.h"
#include "protocol/SignalMessage.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wl {

class DeviceIdentity;
class FileLinkPeer;
class MediaEngine;
class SignalTransport;

class AttachmentFetcher final : public QObject {
    Q_OBJECT
public:
    enum class Failure { unreachable, notVerified, gone, failed };

    struct Result {
        std::vector<TransferredFile> files; // when it worked
        std::optional<Failure> failure;
        bool ok() const { return !failure.has_value(); }
    };

    struct Options {
        // The time-out.
        TimerFactory timers;
        // The signalling path to the host (a WebSocket channel to v1/connect/<id> when
        // empty), not yet opened.
        std::function<std::shared_ptr<SignalTransport>(const std::string& deviceId)> makeTransport;
        // The picture link's settings (required), and where the service's address comes from.
        std::shared_ptr<Defaults> defaults;
        std::shared_ptr<const InfoDictionary> info = std::make_shared<MapInfoDictionary>();
        // The device this helper proves to be (required).
        std::shared_ptr<DeviceIdentity> identity;
    };

    static constexpr std::chrono::milliseconds kTimeLimit{40000};

    // engine: makes the picture link.
    AttachmentFetcher(MediaEngine& engine, PairedDevice device, std::string requestId, std::string helperNonce,
                      Options options, QObject* parent = nullptr);
    ~AttachmentFetcher() override;

    // Called once, on the main thread.
    std::function<void(const Result&)> onDone;

    // Opens the path and asks for the pictures. Called once.
    void start();

    // The hello a helper opens with, a session's as well as a picture fetch's: this
    // user's name, this machine's signing key and the helper nonce.
    static SignalMessage helperHello(const std::string& helperNonce, DeviceIdentity& identity);

    // "unreachable", "notVerified", "gone", "failed".
    static std::string failureName(Failure failure);

    // ---- for tests and diagnostics ----
    const PairedDevice& device() const { return device_; }
    const std::string& requestId() const { return requestId_; }
    const std::string& helperNonce() const { return helperNonce_; }
    const std::optional<std::string>& hostNonce() const { return hostNonce_; }
    const std::vector<ICEServer>& relays() const { return relays_; }
    FileLinkPeer* peer() const { return peer_.get(); }
    bool isFinished() const { return finished_; }

private:
    void handle(const SignalMessage& message);
    void handleChallenge(const SignalMessage& message);
    void handleAccepted();
    void handleAnswer(const SignalMessage& message);
    void transportClosed();
    void finish(Result result);
    void log(const std::string& message) const;
    void send(const SignalMessage& message);

    MediaEngine& engine_;
    PairedDevice device_;
    std::string requestId_;
    std::string helperNonce_;
    Options options_;
    std::optional<std::string> hostNonce_;
    std::vector<ICEServer> relays_;
    std::shared_ptr<SignalTransport> transport_;
    std::unique_ptr<FileLinkPeer> peer_;
    std::unique_ptr<OneShotTimer> timeLimit_;
    bool finished_ = false;
    std::chrono::steady_clock::time_point started_;
};

} // namespace wl
