#include "WsTestClient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/http.hpp>

#include <functional>

namespace wl::test {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

WsTestClient::WsTestClient() : ws_(io_) { }

WsTestClient::~WsTestClient()
{
    drop();
}

void WsTestClient::runUntil(const std::function<bool()>& done, Duration timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        if (io_.stopped())
            io_.restart();
        io_.run_one_until(deadline);
    }
}

bool WsTestClient::open(std::uint16_t port, const std::string& target, int* status, const Options& options)
{
    if (status)
        *status = 0;
    struct State {
        bool finished = false;
        beast::error_code result;
        websocket::response_type response;
    };
    auto state = std::make_shared<State>();
    auto& stream = beast::get_lowest_layer(ws_);
    if (options.source || options.receiveBuffer > 0) {
        beast::error_code ec;
        stream.socket().open(tcp::v4(), ec);
        if (!ec && options.receiveBuffer > 0)
            stream.socket().set_option(asio::socket_base::receive_buffer_size(options.receiveBuffer), ec);
        if (!ec && options.source)
            stream.socket().bind(tcp::endpoint(asio::ip::make_address(options.source), 0), ec);
        if (ec) {
            closed_ = true;
            return false;
        }
    }
    stream.expires_after(kWait);
    auto host = "127.0.0.1:" + std::to_string(port);
    stream.async_connect(
        tcp::endpoint(asio::ip::make_address("127.0.0.1"), port), [this, state, host, target](beast::error_code ec) {
            if (ec) {
                state->result = ec;
                state->finished = true;
                return;
            }
            ws_.async_handshake(state->response, host, target, [state](beast::error_code handshakeError) {
                state->result = handshakeError;
                state->finished = true;
            });
        });
    runUntil([&] { return state->finished; }, kWait + Duration(1000));
    stream.expires_never();
    // A status only when an answer came: refused (declined) or switched.
    if (status && state->finished && (!state->result || state->result == websocket::error::upgrade_declined))
        *status = static_cast<int>(state->response.result_int());
    if (!state->finished || state->result) {
        closed_ = true;
        return false;
    }
    ws_.read_message_max(8u * 1024 * 1024);
    ws_.control_callback([this](websocket::frame_type kind, beast::string_view) {
        if (kind == websocket::frame_type::pong)
            ++pongs_;
    });
    opened_ = true;
    startRead();
    return true;
}

void WsTestClient::startRead()
{
    reading_ = true;
    ws_.async_read(buffer_, [this](beast::error_code ec, std::size_t) {
        reading_ = false;
        if (ec) {
            closed_ = true;
            // The peer's close frame counts even when the link broke while the answer to it
            // waited behind a write of ours.
            if (ec == websocket::error::closed || ws_.reason().code != websocket::close_code::none)
                closeCode_ = ws_.reason().code;
            return;
        }
        frames_.emplace_back(beast::buffers_to_string(buffer_.data()), ws_.got_text());
        buffer_.consume(buffer_.size());
        startRead();
    });
}

// Beast allows one write at a time: a message waits in outgoing_ while an earlier one is
// still being written (a peer that never reads holds it up for good), and send returns
// when its own message is written or after kWait.
void WsTestClient::send(const std::string& text)
{
    queue(text, false);
}

void WsTestClient::sendBinary(const std::string& bytes)
{
    queue(bytes, true);
}

void WsTestClient::post(const std::string& text)
{
    if (closed_)
        return;
    outgoing_.push_back({std::make_shared<std::string>(text), false, std::make_shared<bool>(false)});
    if (!writing_)
        startWrite();
}

void WsTestClient::poll()
{
    if (io_.stopped())
        io_.restart();
    io_.poll();
}

void WsTestClient::queue(const std::string& data, bool binary)
{
    if (closed_)
        return;
    auto done = std::make_shared<bool>(false);
    outgoing_.push_back({std::make_shared<std::string>(data), binary, done});
    if (!writing_)
        startWrite();
    runUntil([&] { return *done; }, kWait);
}

void WsTestClient::startWrite()
{
    if (outgoing_.empty())
        return;
    Outgoing next = std::move(outgoing_.front());
    outgoing_.pop_front();
    writing_ = true;
    ws_.binary(next.binary);
    ws_.async_write(asio::buffer(*next.data), [this, next](beast::error_code ec, std::size_t) {
        writing_ = false;
        *next.done = true;
        if (ec) {
            // The link is gone: nothing queued behind this message will be written.
            for (auto& waiting : outgoing_)
                *waiting.done = true;
            outgoing_.clear();
            return;
        }
        startWrite();
    });
}

void WsTestClient::ping()
{
    if (closed_)
        return;
    auto done = std::make_shared<bool>(false);
    ws_.async_ping({}, [done](beast::error_code) { *done = true; });
    runUntil([&] { return *done; }, kWait);
}

bool WsTestClient::roundTrip(Duration timeout)
{
    const int before = pongs_;
    ping();
    runUntil([&] { return pongs_ > before || closed_; }, timeout);
    return pongs_ > before;
}

std::optional<std::string> WsTestClient::receive(Duration timeout)
{
    runUntil([&] { return !frames_.empty() || closed_; }, timeout);
    if (frames_.empty())
        return std::nullopt;
    auto [text, isText] = std::move(frames_.front());
    frames_.pop_front();
    lastText_ = isText;
    return text;
}

bool WsTestClient::quietFor(Duration window)
{
    runUntil([&] { return !frames_.empty() || closed_; }, window);
    return frames_.empty() && !closed_;
}

int WsTestClient::waitClosed(Duration timeout)
{
    runUntil([&] { return closed_; }, timeout);
    return closed_ ? closeCode_ : -1;
}

void WsTestClient::close(std::uint16_t code)
{
    if (closed_ || !opened_)
        return;
    auto done = std::make_shared<bool>(false);
    ws_.async_close(websocket::close_reason(code), [done](beast::error_code) { *done = true; });
    runUntil([&] { return *done && closed_; }, kWait);
}

void WsTestClient::drop()
{
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
    if (opened_)
        runUntil([&] { return !reading_ && !writing_; }, Duration(1000));
    closed_ = true;
}

std::string percentEncode(const std::string& text)
{
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

} // namespace wl::test
