#pragma once
// The sessions of one connection, as templates over the stream (plain TCP or TLS): HTTP/1.1
// requests until one of them becomes a WebSocket, then the WebSocket as a Link of the Hub.
// Included only by PlainSessions.cpp and TlsSessions.cpp.

#include "ServerContext.h"
#include "Sessions.h"

#include "platform/Log.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <algorithm>
#include <deque>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace wl::service::sessions {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

inline constexpr const char* kServerName = "wickerlane-introduction";
// A link whose peer lets this much pile up does not read: signalling frames are small, and
// stored mail goes out in a window well below it.
inline constexpr std::size_t kMaxQueuedBytes = 1024 * 1024;

// The kernel's send buffer of a WebSocket link (Linux doubles it). Left to itself the kernel
// grows it to several MB, all of which a peer that stops reading would hold before anything
// waits in the link's queue, where its limits, the connectors' shares and the send budget
// apply. Signalling frames are small and stored mail goes out a 256 KiB window at a time.
inline constexpr int kSocketSendBufferBytes = 256 * 1024;

// A host's link carries what each of its connectors has waiting (each within its own budget)
// and the service's own frames: only a host that stops reading fills it.
inline std::size_t hostQueueLimit(const ServiceConfig& config)
{
    return Hub::maxConnectorsPerHost * config.connectorQueueBytes + kMaxQueuedBytes;
}

inline void log(const std::string& text)
{
    wl::Log::line(std::string("wickerlane-introduction: ") + text);
}

inline Method methodOf(http::verb verb)
{
    switch (verb) {
    case http::verb::get: return Method::get;
    case http::verb::put: return Method::put;
    case http::verb::post: return Method::post;
    default: return Method::other;
    }
}

inline const char* roleName(Link::Role role)
{
    switch (role) {
    case Link::Role::host: return "host link";
    case Link::Role::connector: return "connect";
    case Link::Role::pairHost: return "pairing host";
    case Link::Role::pairJoin: return "pairing join";
    case Link::Role::mailbox: return "mailbox link";
    }
    return "link";
}

// ---------------------------------------------------------------------------------------
// An accepted WebSocket.

template <class Stream>
class WsSession final : public Link {
public:
    WsSession(Stream&& stream, ServerContext& context, Role role, std::string key, std::string address,
              ConnectionLimits::Slot slot)
        : Link(role, std::move(key), std::move(address)), ws_(std::move(stream)), context_(context),
          budget_(context.budget), slot_(std::move(slot)),
          queueLimit_(role == Role::host ? hostQueueLimit(context.config) : kMaxQueuedBytes)
    {
    }

    ~WsSession() override { budget_.give(queuedBytes_); }

    void start(http::request<http::string_body> request, bool rateLimited)
    {
        beast::get_lowest_layer(ws_).expires_never();
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).socket().set_option(asio::socket_base::send_buffer_size(kSocketSendBufferBytes),
                                                         ignored);
        websocket::stream_base::timeout timeouts{};
        timeouts.handshake_timeout = context_.config.requestTimeout;
        timeouts.idle_timeout = websocket::stream_base::none();
        timeouts.keep_alive_pings = false;
        ws_.set_option(timeouts);
        ws_.set_option(websocket::stream_base::decorator(
            [](websocket::response_type& response) { response.set(http::field::server, kServerName); }));
        ws_.read_message_max(context_.config.maxFrameBytes);
        ws_.control_callback([this](websocket::frame_type, beast::string_view) { touch(); });
        auto self = std::static_pointer_cast<WsSession>(shared_from_this());
        ws_.async_accept(request, [self, rateLimited](beast::error_code ec) { self->onAccept(ec, rateLimited); });
    }

    bool withdraw(std::uint64_t lane) override
    {
        // The frame on the wire stays: its write still uses the buffer. A lane with nothing
        // waiting has written its first frame.
        auto it = lanes_.find(lane);
        if (it == lanes_.end())
            return true;
        const bool begun = it->second.begun;
        for (const auto& frame : it->second.frames)
            release(SendBudget::costOf(frame->size()));
        eraseLane(it);
        return begun;
    }

    void close(std::uint16_t code) override
    {
        if (closing_ || !open_)
            return;
        closing_ = true;
        closeCode_ = code;
        markClosing();
        if (!writing_)
            sendClose();
    }

    void closeNow(std::uint16_t code) override
    {
        dropQueued();
        close(code);
    }

    bool closing() const override { return closing_; }
    std::size_t queuedBytes() const override { return queuedBytes_; }

    void abort() override
    {
        if (!closing_)
            markClosing();
        closing_ = true;
        dropQueued();
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).socket().close(ignored);
    }

protected:
    void queue(std::shared_ptr<const std::string> text, std::uint64_t lane, Kind kind) override
    {
        if (closing_ || !open_)
            return;
        const auto size = SendBudget::costOf(text->size());
        if (queuedBytes_ + size > queueLimit_) {
            log(std::string(roleName(role())) + " from " + address() + " dropped: the peer does not read");
            abort();
            return;
        }
        if (kind != Kind::forwarded) {
            budget_.charge(size);
        } else if (!budget_.take(size)) {
            log(std::string(roleName(role())) + " from " + address() + " dropped: the send budget is spent");
            abort();
            return;
        }
        queuedBytes_ += size;
        auto [it, added] = lanes_.try_emplace(lane);
        if (added) {
            // A new lane writes after every lane already waiting has had its turn.
            it->second.turn = turns_.insert(turns_.end(), lane);
            it->second.begun = kind != Kind::opening;
        }
        it->second.frames.push_back(std::move(text));
        if (!writing_)
            writeNext();
    }

private:
    // The frames waiting for one connector of a host link (or, lane 0, everything a link
    // carries otherwise: on a host link, what the service itself tells it), oldest first. A
    // lane exists while it has frames waiting.
    struct Lane {
        std::deque<std::shared_ptr<const std::string>> frames;
        std::list<std::uint64_t>::iterator turn; // its place in turns_
        bool begun = true; // false until the lane's opening frame has left the queue
    };
    using Lanes = std::unordered_map<std::uint64_t, Lane>;

    void eraseLane(typename Lanes::iterator it)
    {
        turns_.erase(it->second.turn);
        lanes_.erase(it);
    }

    void onAccept(beast::error_code ec, bool rateLimited)
    {
        if (ec)
            return;
        open_ = true;
        if (rateLimited) {
            log(std::string(roleName(role())) + " from " + address() + " refused: over the rate limit");
            close(CloseCode::rateLimited);
        } else {
            attached_ = true;
            context_.hub.attach(shared_from_this());
        }
        read();
    }

    void read()
    {
        auto self = std::static_pointer_cast<WsSession>(shared_from_this());
        ws_.async_read(buffer_, [self](beast::error_code ec, std::size_t) { self->onRead(ec); });
    }

    void onRead(beast::error_code ec)
    {
        if (ec) {
            if (ec == websocket::error::message_too_big)
                log(std::string(roleName(role())) + " closed: frame over the limit");
            finish();
            return;
        }
        touch();
        if (attached_) {
            auto data = buffer_.cdata();
            context_.hub.frame(shared_from_this(), std::string_view(static_cast<const char*>(data.data()), data.size()),
                               !ws_.got_text());
        }
        buffer_.consume(buffer_.size());
        if (buffer_.capacity() > 16 * 1024)
            buffer_.shrink_to_fit();
        read();
    }

    // The next frame of the lane whose turn it is; that lane's next frame waits until every
    // other lane with frames waiting has written one.
    void writeNext()
    {
        auto lane = lanes_.find(turns_.front());
        auto& frames = lane->second.frames;
        onWire_ = std::move(frames.front());
        frames.pop_front();
        lane->second.begun = true;
        if (frames.empty())
            eraseLane(lane);
        else
            turns_.splice(turns_.end(), turns_, turns_.begin());
        writing_ = true;
        ws_.text(true);
        auto self = std::static_pointer_cast<WsSession>(shared_from_this());
        ws_.async_write(asio::buffer(*onWire_), [self](beast::error_code ec, std::size_t) { self->onWrite(ec); });
    }

    void onWrite(beast::error_code ec)
    {
        writing_ = false;
        release(SendBudget::costOf(onWire_->size()));
        onWire_.reset();
        if (ec) {
            abort();
            return;
        }
        if (!lanes_.empty())
            writeNext();
        else if (closing_ && !closeSent_)
            sendClose();
        if (attached_ && !closing_)
            context_.hub.drained(shared_from_this());
    }

    void sendClose()
    {
        closeSent_ = true;
        auto self = std::static_pointer_cast<WsSession>(shared_from_this());
        ws_.async_close(websocket::close_reason(closeCode_), [self](beast::error_code ec) {
            if (ec)
                self->abort();
        });
    }

    // Drops every queued frame but the one on the wire, whose buffer its write still uses.
    void dropQueued()
    {
        for (const auto& [id, lane] : lanes_) {
            for (const auto& frame : lane.frames)
                release(SendBudget::costOf(frame->size()));
        }
        lanes_.clear();
        turns_.clear();
    }

    void release(std::size_t bytes)
    {
        queuedBytes_ -= bytes;
        budget_.give(bytes);
    }

    void finish()
    {
        // The link is over: close the socket so that a write still waiting on a peer that
        // does not read ends now.
        abort();
        if (attached_) {
            attached_ = false;
            context_.hub.detach(shared_from_this());
        }
    }

    websocket::stream<Stream> ws_;
    ServerContext& context_;
    SendBudget& budget_;
    ConnectionLimits::Slot slot_;
    beast::flat_buffer buffer_;
    // Lanes with frames waiting, by id: at most one for each connector bound to a host and the
    // service's own. turns_ holds their ids in the order they write, the next first.
    Lanes lanes_;
    std::list<std::uint64_t> turns_;
    std::shared_ptr<const std::string> onWire_; // the frame being written
    std::size_t queuedBytes_ = 0;
    std::size_t queueLimit_;
    std::uint16_t closeCode_ = CloseCode::normal;
    bool open_ = false;
    bool attached_ = false;
    bool writing_ = false;
    bool closing_ = false;
    bool closeSent_ = false;
};

// ---------------------------------------------------------------------------------------
// HTTP/1.1 requests on one connection, until one of them becomes a WebSocket.

template <class Stream>
class HttpSession final : public std::enable_shared_from_this<HttpSession<Stream>> {
public:
    HttpSession(Stream&& stream, ServerContext& context, std::string address, ConnectionLimits::Slot slot)
        : stream_(std::move(stream)), context_(context), address_(std::move(address)), slot_(std::move(slot))
    {
    }

    void run() { awaitRequest(); }

private:
    // A connection (or a kept-alive one between requests) gets a short time for the first
    // byte of a request, then the whole request time for the rest.
    void awaitRequest()
    {
        if (buffer_.size() > 0) {
            readHeader();
            return;
        }
        beast::get_lowest_layer(stream_).expires_after(context_.firstByteTimeout());
        auto self = this->shared_from_this();
        stream_.async_read_some(buffer_.prepare(4096), [self](beast::error_code ec, std::size_t n) {
            self->buffer_.commit(n);
            if (!ec)
                self->readHeader();
        });
    }

    void readHeader()
    {
        parser_.emplace();
        parser_->header_limit(16 * 1024);
        parser_->body_limit(boost::none);
        beast::get_lowest_layer(stream_).expires_after(context_.config.requestTimeout);
        auto self = this->shared_from_this();
        http::async_read_header(stream_, buffer_, *parser_,
                                [self](beast::error_code ec, std::size_t) { self->onHeader(ec); });
    }

    void onHeader(beast::error_code ec)
    {
        if (ec) {
            const auto& httpErrors = http::make_error_code(http::error::bad_target).category();
            if (ec == http::error::header_limit)
                respond(HttpApi::error(431, "request header too large"), false);
            else if (ec.category() == httpErrors && ec != http::error::end_of_stream &&
                     ec != http::error::partial_message)
                respond(HttpApi::error(400, "malformed request"), false);
            return;
        }
        auto& request = parser_->get();
        method_ = methodOf(request.method());
        target_ = RequestTarget::parse(std::string_view(request.target().data(), request.target().size()));
        bool upgrade = websocket::is_upgrade(request);
        bool keepAlive = request.keep_alive();

        if (!context_.requests.allow(addressKey(address_))) {
            if (upgrade && method_ == Method::get && target_.isWebSocketRoute() && target_.keyValid) {
                Link::Role role = Link::Role::connector;
                switch (target_.kind) {
                case RouteKind::host: role = Link::Role::host; break;
                case RouteKind::mail: role = Link::Role::mailbox; break;
                case RouteKind::pairHost: role = Link::Role::pairHost; break;
                case RouteKind::pairJoin: role = Link::Role::pairJoin; break;
                default: break;
                }
                becomeWebSocket(role, true);
                return;
            }
            log("request from " + address_ + " refused: over the rate limit");
            respond(HttpApi::error(429, "too many requests"), false);
            return;
        }

        auto decision = context_.api.route(method_, target_, upgrade);
        if (decision.answer) {
            respond(*decision.answer, keepAlive && parser_->is_done());
            return;
        }
        if (decision.webSocket) {
            becomeWebSocket(*decision.webSocket, false);
            return;
        }
        if (auto length = parser_->content_length(); length && *length > decision.bodyLimit) {
            respond(HttpApi::error(413, "body too large"), false, true);
            return;
        }
        parser_->body_limit(decision.bodyLimit);
        if (beast::iequals(request[http::field::expect], "100-continue")) {
            // Clients such as curl wait for this before they send a body.
            auto interim = std::make_shared<http::response<http::empty_body>>(http::status::continue_, 11);
            auto self = this->shared_from_this();
            http::async_write(stream_, *interim, [self, interim](beast::error_code ec, std::size_t) {
                if (!ec)
                    self->readBody();
            });
            return;
        }
        readBody();
    }

    void readBody()
    {
        auto self = this->shared_from_this();
        http::async_read(stream_, buffer_, *parser_, [self](beast::error_code ec, std::size_t) { self->onBody(ec); });
    }

    void onBody(beast::error_code ec)
    {
        if (ec == http::error::body_limit) {
            respond(HttpApi::error(413, "body too large"), false, true);
            return;
        }
        if (ec)
            return;
        auto& request = parser_->get();
        respond(context_.api.handle(method_, target_, request.body()), request.keep_alive());
    }

    void becomeWebSocket(Link::Role role, bool rateLimited)
    {
        auto session = std::make_shared<WsSession<Stream>>(std::move(stream_), context_, role, target_.key, address_,
                                                           std::move(slot_));
        session->start(parser_->release(), rateLimited);
    }

    void respond(const HttpAnswer& answer, bool keepAlive, bool drain = false)
    {
        auto response = std::make_shared<http::response<http::string_body>>();
        response->result(answer.status);
        response->version(11);
        response->set(http::field::server, kServerName);
        response->set(http::field::content_type, answer.contentType);
        response->keep_alive(keepAlive);
        response->body() = answer.body;
        response->prepare_payload();
        beast::get_lowest_layer(stream_).expires_after(context_.config.requestTimeout);
        auto self = this->shared_from_this();
        http::async_write(stream_, *response, [self, response, keepAlive, drain](beast::error_code ec, std::size_t) {
            if (ec)
                return;
            if (keepAlive)
                self->awaitRequest();
            else
                self->shutdown(drain);
        });
    }

    // Closes our side; with drain, reads and discards what the client still sends (an
    // oversized body) for a moment, so that it sees the answer rather than a reset.
    void shutdown(bool drain)
    {
        auto& socket = beast::get_lowest_layer(stream_).socket();
        beast::error_code ignored;
        socket.shutdown(tcp::socket::shutdown_send, ignored);
        if (!drain)
            return;
        drainBuffer_.resize(4096);
        drained_ = 0;
        beast::get_lowest_layer(stream_).expires_after(
            std::min<std::chrono::milliseconds>(context_.config.requestTimeout, std::chrono::milliseconds(2000)));
        drainMore();
    }

    void drainMore()
    {
        auto self = this->shared_from_this();
        beast::get_lowest_layer(stream_).async_read_some(asio::buffer(drainBuffer_),
                                                         [self](beast::error_code ec, std::size_t n) {
                                                             self->drained_ += n;
                                                             if (!ec && self->drained_ < 4u * 1024 * 1024)
                                                                 self->drainMore();
                                                         });
    }

    Stream stream_;
    ServerContext& context_;
    std::string address_;
    ConnectionLimits::Slot slot_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    Method method_ = Method::other;
    RequestTarget target_;
    std::vector<char> drainBuffer_;
    std::size_t drained_ = 0;
};

} // namespace wl::service::sessions
