#pragma once
// The host's side of pairing. It waits at the introduction service's rendezvous
// v1/pair/host/<code> for a helper's `pairRequest`, answers with its own `pairInfo`
// (this Mac's name and signing public key), hands the helper's name, key and the
// six-digit comparison number to onRequest, and sends the user's decision. The wait
// expires after 600 seconds.
//
// Everything runs on the main thread. finish() runs once: later events change nothing.

#include "identity/Keys.h"
#include "platform/InfoDictionary.h"
#include "platform/OneShotTimer.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace wl {

class WebSocketSignalChannel;
struct SignalMessage;

class PairingHost : public QObject {
    Q_OBJECT
public:
    // Reasons handed to onFinished (none when cancelled or after an answer).
    static constexpr const char* kExpiredReason =
        "The pairing code expired before a helper used it. Start again for a new code.";
    static constexpr const char* kClosedReason =
        "The connection closed before pairing finished. Try again with a new code.";
    static constexpr const char* kNoKeyReason = "This computer's identity key couldn't be read.";

    static constexpr std::chrono::milliseconds kDefaultExpiry{600'000};
    static constexpr std::chrono::milliseconds kDefaultAnswerDelay{1'000};

    // code: from newPairingCode(). timers: the expiry and answer timers and the link's
    // ping (required; tests fire them by hand). info: where the service's address comes
    // from.
    PairingHost(std::string code, TimerFactory timers, std::shared_ptr<const InfoDictionary> info,
                QObject* parent = nullptr);
    ~PairingHost() override;

    // Helper's name, helper's public key (base64), comparison number (six digits).
    std::function<void(const std::string& name, const std::string& publicKey, const std::string& number)> onRequest;
    // The reason, or nullopt when cancelled or after an answer.
    std::function<void(const std::optional<std::string>& reason)> onFinished;

    // This Mac's name as the helper will see it: its user's full name.
    std::string name;

    // This Mac's signing key, set by whoever makes the host; unset: the key could not be
    // read, and a request ends the pairing.
    std::optional<SigningKey> signingKey;

    const std::string& code() const { return code_; }
    // Whether the service holds the code: the link to it is open and the pairing goes on.
    bool isWaiting() const;
    const std::optional<std::string>& helperKey() const { return helperKey_; }
    bool finished() const { return finished_; }
    WebSocketSignalChannel* channel() const { return channel_.get(); }

    // Opens the rendezvous for the code and arms the expiry.
    void start();
    // Sends `accepted` or `declined` and finishes (without a reason) a moment later.
    void answer(bool allow);
    // Runs once: stops the timer, drops the callbacks, closes the channel, then calls
    // onFinished with the reason.
    void finish(const std::optional<std::string>& reason = std::nullopt);

private:
    void handle(const SignalMessage& message);
    void channelClosed();

    std::string code_;
    TimerFactory timers_;
    std::shared_ptr<const InfoDictionary> info_;
    std::shared_ptr<WebSocketSignalChannel> channel_;
    std::unique_ptr<OneShotTimer> expiryTimer_;
    std::unique_ptr<OneShotTimer> answerTimer_;
    std::optional<std::string> helperKey_;
    bool started_ = false;
    bool answered_ = false;
    bool finished_ = false;
};

} // namespace wl
