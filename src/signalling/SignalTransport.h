#pragma once
// What a session, a file link, a picture fetch or a pairing needs of a signalling
// path: handlers for incoming messages and for the path closing, send and close.
// The WebSocket channel and the host's relay session transport implement it.
// Handlers are called on the main thread.

#include "protocol/SignalMessage.h"

#include <functional>

namespace wl {

class SignalTransport {
public:
    virtual ~SignalTransport() = default;

    std::function<void(const SignalMessage&)> onMessage;
    // Clear it before calling close() when your own close should not report back.
    std::function<void()> onClose;

    // Sends one message; reports no error.
    virtual void send(const SignalMessage& message) = 0;
    virtual void close() = 0;
    // The close code the other side gave when it closed the path; 0 when it gave none (or
    // the path has none to give).
    virtual int closeCode() const { return 0; }
};

} // namespace wl
