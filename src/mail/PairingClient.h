#pragma once
// The helper's side of pairing. It joins the host waiting at the introduction
// service's rendezvous v1/pair/join/<code>, sends `pairRequest` (the user's full name,
// this Mac's signing public key), shows the comparison number once the host's
// `pairInfo` arrives (onVerify), and ends with onPaired or onFailed.
//
// Everything runs on the main thread. finish() runs once and drops the callbacks.

#include "identity/Keys.h"
#include "platform/InfoDictionary.h"
#include "platform/OneShotTimer.h"
#include "protocol/PairedDevice.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace wl {

class WebSocketSignalChannel;
struct SignalMessage;

class PairingClient : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kDeclinedText = "Pairing wasn't allowed on the other Mac.";
    static constexpr const char* kNoHostText =
        "No Mac is waiting with that code. Check the code, and that it hasn't expired.";
    static constexpr const char* kClosedText =
        "The connection closed before pairing finished. Try again with a new code.";
    static constexpr const char* kNoKeyText = "This computer's identity key couldn't be read.";

    struct Host {
        std::string name;
        std::string publicKey;
    };

    // code: already normalised (normalizePairingCode).
    // timers: the link's (required).
    // info: where the service's address comes from.
    PairingClient(std::string code, TimerFactory timers, std::shared_ptr<const InfoDictionary> info,
                  QObject* parent = nullptr);
    ~PairingClient() override;

    std::function<void(const std::string& hostName, const std::string& number)> onVerify;
    std::function<void(const PairedDevice& device)> onPaired;
    std::function<void(const std::string& message)> onFailed;

    // The name sent to the host (defaults to the user's full name).
    std::string name;

    // This Mac's signing key, set by whoever makes the client; unset: the key could not be
    // read, and start() fails.
    std::optional<SigningKey> signingKey;

    const std::string& code() const { return code_; }
    const std::optional<Host>& host() const { return host_; }
    bool finished() const { return finished_; }
    WebSocketSignalChannel* channel() const { return channel_.get(); }

    // Opens v1/pair/join/<code> and sends the pairing request.
    void start();
    // Sets finished, drops the three callbacks and closes the channel; once only.
    void finish();

    // The user's full name from the account database, else the login name.
    static std::string fullUserName();

private:
    void handle(const SignalMessage& message);
    void channelClosed();
    void fail(const std::string& message);

    std::string code_;
    TimerFactory timers_;
    std::shared_ptr<const InfoDictionary> info_;
    std::shared_ptr<WebSocketSignalChannel> channel_;
    std::optional<Host> host_;
    std::string ownKey_;
    bool started_ = false;
    bool finished_ = false;
};

} // namespace wl
