#include "Server.h"

#include "platform/Log.h"

#include <boost/asio/ip/address.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <algorithm>
#include <vector>

namespace wl::service {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

namespace {

constexpr std::size_t kMaxQueuedBytes = 48u * 1024 * 1024;
constexpr const char* kServerName = "wickerlane-introduction";

void log(const std::string& text)
{
    wl::Log::line(std::string("wickerlane-introduction: ") + text);
}

Method methodOf(http::verb verb)
{
    switch (verb) {
    case http::verb::get: return Method::get;
    case http::verb::put: return Method::put;
    case http::verb::post: return Method::post;
    default: return Method::other;
    }
}

const char* roleName(Link::Role role)
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
    WsSession(Stream&& stream, ServerContext& context, Role role, std::string key, std::string address)
        : Link(role, std::move(key), std::move(address)), ws_(std::move(stream)), context_(context)
    {
    }

    void start(http::request<http::string_body> request, bool rateLimited)
    {
        beast::get_lowest_layer(ws_).expires_never();
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

    void send(std::shared_ptr<const std::string> text) override
    {
        if (closing_ || !open_)
            return;
        queuedBytes_ += text->size();
        if (queuedBytes_ > kMaxQueuedBytes) {
            log(std::string(roleName(role())) + " dropped: the peer does not read");
            abort();
            return;
        }
        queue_.push_back(std::move(text));
        if (!writing_)
            writeNext();
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

    bool closing() const override { return closing_; }

    void abort() override
    {
        closing_ = true;
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).socket().close(ignored);
    }

private:
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

    void writeNext()
    {
        writing_ = true;
        ws_.text(true);
        auto self = std::static_pointer_cast<WsSession>(shared_from_this());
        ws_.async_write(asio::buffer(*queue_[head_]), [self](beast::error_code ec, std::size_t) { self->onWrite(ec); });
    }

    void onWrite(beast::error_code ec)
    {
        writing_ = false;
        if (ec) {
            queue_.clear();
            head_ = 0;
            queuedBytes_ = 0;
            abort();
            return;
        }
        queuedBytes_ -= queue_[head_]->size();
        queue_[head_].reset();
        if (++head_ == queue_.size()) {
            queue_.clear();
            queue_.shrink_to_fit();
            head_ = 0;
        }
        if (!queue_.empty())
            writeNext();
        else if (closing_ && !closeSent_)
            sendClose();
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

    void finish()
    {
        // The link is over: close the socket so that a write still waiting on a peer that
        // does not read ends now. That write's frame stays queued until its handler has run.
        abort();
        if (writing_)
            queue_.resize(head_ + 1);
        else {
            queue_.clear();
            head_ = 0;
        }
        if (attached_) {
            attached_ = false;
            context_.hub.detach(shared_from_this());
        }
    }

    websocket::stream<Stream> ws_;
    ServerContext& context_;
    beast::flat_buffer buffer_;
    std::vector<std::shared_ptr<const std::string>> queue_;
    std::size_t head_ = 0;
    std::size_t queuedBytes_ = 0;
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
    HttpSession(Stream&& stream, ServerContext& context, std::string address, bool overConnectionLimit)
        : stream_(std::move(stream)), context_(context), address_(std::move(address)),
          overConnectionLimit_(overConnectionLimit)
    {
    }

    void run() { readHeader(); }

private:
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

        bool limited = overConnectionLimit_ || !context_.requests.allow(address_);
        overConnectionLimit_ = false;
        if (limited) {
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
        auto session = std::make_shared<WsSession<Stream>>(std::move(stream_), context_, role, target_.key, address_);
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
                self->readHeader();
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
    bool overConnectionLimit_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    Method method_ = Method::other;
    RequestTarget target_;
    std::vector<char> drainBuffer_;
    std::size_t drained_ = 0;
};

} // namespace

// ---------------------------------------------------------------------------------------

Server::Server(asio::io_context& io, const ServiceConfig& config, Hub& hub, HttpApi& api)
    : context_{io,
               config,
               hub,
               api,
               RateLimiter(config.connectionsPer10Seconds, std::chrono::seconds(10)),
               RateLimiter(config.requestsPerMinute, std::chrono::minutes(1)),
               std::nullopt},
      acceptor_(io), sweepTimer_(io), acceptRetry_(io), lastHousekeeping_(std::chrono::steady_clock::now())
{
}

Server::~Server() = default;

bool Server::start(std::string* error)
{
    const auto& config = context_.config;
    if (!config.certificatePath.empty()) {
        context_.tls.emplace(asio::ssl::context::tls_server);
        beast::error_code ec;
        context_.tls->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                                  asio::ssl::context::no_sslv3 | asio::ssl::context::no_tlsv1 |
                                  asio::ssl::context::no_tlsv1_1);
        context_.tls->use_certificate_chain_file(config.certificatePath, ec);
        if (!ec)
            context_.tls->use_private_key_file(config.privateKeyPath, asio::ssl::context::pem, ec);
        if (ec) {
            if (error)
                *error = "cannot load the certificate or key: " + ec.message();
            return false;
        }
    }

    beast::error_code ec;
    auto address = asio::ip::make_address(config.listenAddress, ec);
    if (ec) {
        tcp::resolver resolver(context_.io);
        auto results = resolver.resolve(config.listenAddress, "", ec);
        if (ec || results.empty()) {
            if (error)
                *error = "cannot resolve the listen address " + config.listenAddress;
            return false;
        }
        address = results.begin()->endpoint().address();
    }
    tcp::endpoint endpoint(address, config.port);
    acceptor_.open(endpoint.protocol(), ec);
    if (!ec)
        acceptor_.set_option(asio::socket_base::reuse_address(true), ec);
    if (!ec)
        acceptor_.bind(endpoint, ec);
    if (!ec)
        acceptor_.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        if (error)
            *error =
                "cannot listen on " + config.listenAddress + ":" + std::to_string(config.port) + ": " + ec.message();
        return false;
    }
    port_ = acceptor_.local_endpoint().port();
    log(std::string("listening on ") + address.to_string() + ":" + std::to_string(port_) +
        (context_.tls ? " (TLS)" : ""));
    accept();
    scheduleSweep();
    return true;
}

void Server::stop()
{
    stopped_ = true;
    beast::error_code ignored;
    acceptor_.close(ignored);
    sweepTimer_.cancel();
    acceptRetry_.cancel();
}

void Server::accept()
{
    acceptor_.async_accept([this](beast::error_code ec, tcp::socket socket) {
        if (stopped_)
            return;
        if (ec) {
            if (ec == asio::error::operation_aborted)
                return;
            // Out of descriptors and the like: try again shortly rather than spin.
            log("accept failed: " + ec.message());
            acceptRetry_.expires_after(std::chrono::milliseconds(100));
            acceptRetry_.async_wait([this](beast::error_code waitError) {
                if (!waitError && !stopped_)
                    accept();
            });
            return;
        }
        beast::error_code ignored;
        socket.set_option(tcp::no_delay(true), ignored);
        auto remote = socket.remote_endpoint(ignored);
        std::string address = remote.address().to_string();
        bool overLimit = !context_.connections.allow(address);
        if (overLimit)
            log("connection from " + address + " over the rate limit");
        if (context_.tls) {
            auto stream = std::make_shared<TlsStream>(beast::tcp_stream(std::move(socket)), *context_.tls);
            beast::get_lowest_layer(*stream).expires_after(context_.config.requestTimeout);
            stream->async_handshake(
                asio::ssl::stream_base::server, [this, stream, address, overLimit](beast::error_code handshakeError) {
                    if (handshakeError)
                        return;
                    std::make_shared<HttpSession<TlsStream>>(std::move(*stream), context_, address, overLimit)->run();
                });
        } else {
            std::make_shared<HttpSession<beast::tcp_stream>>(beast::tcp_stream(std::move(socket)), context_, address,
                                                             overLimit)
                ->run();
        }
        accept();
    });
}

void Server::scheduleSweep()
{
    const auto& config = context_.config;
    auto period = std::min(config.idleTimeout, config.pairingExpiry) / 20;
    period = std::clamp(period, std::chrono::milliseconds(10), std::chrono::milliseconds(1000));
    sweepTimer_.expires_after(period);
    sweepTimer_.async_wait([this](beast::error_code ec) {
        if (ec || stopped_)
            return;
        auto now = std::chrono::steady_clock::now();
        context_.hub.sweep(now);
        if (now - lastHousekeeping_ > std::chrono::minutes(1)) {
            lastHousekeeping_ = now;
            context_.connections.prune(now);
            context_.requests.prune(now);
            context_.api.prune(now);
            context_.hub.dropExpiredMail();
        }
        scheduleSweep();
    });
}

} // namespace wl::service
