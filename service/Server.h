#pragma once
// The network side: one acceptor on one io_context (one thread), HTTP/1.1 and WebSockets
// on the same port, TLS when a certificate is configured. Requests go to HttpApi, accepted
// WebSockets to the Hub.

#include "HttpApi.h"
#include "Hub.h"
#include "RateLimiter.h"
#include "ServiceConfig.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl/context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <memory>
#include <optional>
#include <string>

namespace wl::service {

struct ServerContext {
    boost::asio::io_context& io;
    const ServiceConfig& config;
    Hub& hub;
    HttpApi& api;
    RateLimiter connections;
    RateLimiter requests;
    std::optional<boost::asio::ssl::context> tls;
};

class Server {
public:
    Server(boost::asio::io_context& io, const ServiceConfig& config, Hub& hub, HttpApi& api);
    ~Server();

    // Loads TLS material, binds and listens; logs "listening on <address>:<port>".
    bool start(std::string* error);
    void stop();
    std::uint16_t port() const { return port_; }

private:
    void accept();
    void scheduleSweep();

    ServerContext context_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer sweepTimer_;
    boost::asio::steady_timer acceptRetry_;
    std::chrono::steady_clock::time_point lastHousekeeping_;
    std::uint16_t port_ = 0;
    bool stopped_ = false;
};

} // namespace wl::service
