#pragma once
// The network side: one acceptor on one io_context (one thread), HTTP/1.1 and WebSockets
// on the same port, TLS when a certificate is configured. Connections over a limit are
// refused at accept; requests go to HttpApi, accepted WebSockets to the Hub.

#include "ServerContext.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <map>
#include <memory>
#include <string>

namespace wl::service {

class Server {
public:
    Server(boost::asio::io_context& io, const ServiceConfig& config, Hub& hub, HttpApi& api, SendBudget& budget);
    ~Server();

    // Loads TLS material, binds and listens; logs "listening on <address>:<port>".
    bool start(std::string* error);
    void stop();
    std::uint16_t port() const { return port_; }

private:
    void accept();
    void refuse(boost::asio::ip::tcp::socket& socket, const std::string& address, const char* why);
    void logRefusals();
    void scheduleSweep();

    ServerContext context_;
    boost::asio::ip::tcp::acceptor acceptor_;
    boost::asio::steady_timer sweepTimer_;
    boost::asio::steady_timer acceptRetry_;
    std::chrono::steady_clock::time_point lastHousekeeping_;
    std::chrono::steady_clock::time_point lastRefusalLog_;
    // Connections refused at accept since the last log line, by "<address>: <reason>".
    std::map<std::string, std::size_t> refusals_;
    std::size_t refusalsElsewhere_ = 0;
    std::uint16_t port_ = 0;
    bool stopped_ = false;
};

// Connections the service may hold open at once when not configured: what the descriptor
// limit leaves after a reserve for the database, the log and the listener.
std::size_t connectionLimitFromDescriptors();

} // namespace wl::service
