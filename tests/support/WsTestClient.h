#pragma once
// A real WebSocket client for tests against the introduction service (Boost.Beast on its
// own io_context, so one client belongs to one thread): every wait is bounded by a timeout.

#include <boost/asio/io_context.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace wl::test {

struct WsClientOptions {
    const char* source = nullptr; // connect from this loopback address ("127.0.3.7")
    int receiveBuffer = 0; // SO_RCVBUF when above zero: with it, a client that is not polled
                           // soon stops the service's writes
};

class WsTestClient {
public:
    using Duration = std::chrono::milliseconds;
    static constexpr Duration kWait{5000};

    WsTestClient();
    ~WsTestClient();

    using Options = WsClientOptions;
    // Opens ws://127.0.0.1:port<target>. False when refused; status gets the HTTP status of a
    // refused upgrade (101 on success, 0 when nothing answered).
    bool open(std::uint16_t port, const std::string& target, int* status = nullptr, const Options& options = {});

    void send(const std::string& text);
    void sendBinary(const std::string& bytes);
    // Queues a text message without waiting: poll() moves it along, sending() says whether
    // anything is still on its way. For tests that keep many clients going at once.
    void post(const std::string& text);
    void poll();
    bool sending() const { return writing_ || !outgoing_.empty(); }
    void ping();
    // A ping and its pong: once the pong is back, the service has handled every frame this
    // client sent before the ping. False when the link closed or no pong came in time.
    bool roundTrip(Duration timeout = kWait);
    // The next frame; nullopt on timeout or when the link closed.
    std::optional<std::string> receive(Duration timeout = kWait);
    // True when no frame arrives within `window` (and the link stays open).
    bool quietFor(Duration window);
    // Waits for the link to end; the close code the service sent, or -1 (timeout, reset).
    int waitClosed(Duration timeout = kWait);
    // A clean close handshake started by us (waits for the service's answer).
    void close(std::uint16_t code = 1000);
    // Closes the TCP connection without a close handshake.
    void drop();

    bool isClosed() const { return closed_; }
    int closeCode() const { return closeCode_; }
    bool lastWasText() const { return lastText_; }

private:
    struct Outgoing {
        std::shared_ptr<std::string> data;
        bool binary = false;
        std::shared_ptr<bool> done;
    };
    void startRead();
    void queue(const std::string& data, bool binary);
    void startWrite();
    void runUntil(const std::function<bool()>& done, Duration timeout);

    boost::asio::io_context io_;
    boost::beast::websocket::stream<boost::beast::tcp_stream> ws_;
    boost::beast::flat_buffer buffer_;
    std::deque<std::pair<std::string, bool>> frames_;
    std::deque<Outgoing> outgoing_;
    bool reading_ = false;
    bool writing_ = false;
    bool opened_ = false;
    bool closed_ = false;
    bool lastText_ = true;
    int closeCode_ = -1;
    int pongs_ = 0;
};

// Percent-encodes a query value (everything but unreserved characters).
std::string percentEncode(const std::string& text);

} // namespace wl::test
