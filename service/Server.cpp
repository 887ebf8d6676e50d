#include "Server.h"

#include "Sessions.h"

#include "platform/Log.h"

#include <boost/asio/ip/address.hpp>

#include <algorithm>
#include <sys/resource.h>

namespace wl::service {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;

namespace {

void log(const std::string& text)
{
    wl::Log::line(std::string("wickerlane-introduction: ") + text);
}

// Distinct addresses named in one round of refusal log lines; the rest are summed up.
constexpr std::size_t kRefusalAddressesLogged = 20;

} // namespace

std::size_t connectionLimitFromDescriptors()
{
    constexpr std::size_t reserve = 64;
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return 100000;
    auto descriptors = static_cast<std::size_t>(limit.rlim_cur);
    return descriptors > 2 * reserve ? descriptors - reserve : descriptors / 2;
}

Server::Server(asio::io_context& io, const ServiceConfig& config, Hub& hub, HttpApi& api, SendBudget& budget)
    : context_{io,
               config,
               hub,
               api,
               budget,
               RateLimiter(config.connectionsPer10Seconds, std::chrono::seconds(10)),
               RateLimiter(config.requestsPerMinute, std::chrono::minutes(1)),
               ConnectionLimits(config.connectionsPerAddress,
                                config.maxConnections ? config.maxConnections : connectionLimitFromDescriptors()),
               std::nullopt},
      acceptor_(io), sweepTimer_(io), acceptRetry_(io), lastHousekeeping_(std::chrono::steady_clock::now()),
      lastRefusalLog_()
{
}

Server::~Server() = default;

bool Server::start(std::string* error)
{
    const auto& config = context_.config;
    if (!config.certificatePath.empty()) {
        context_.tls.emplace(asio::ssl::context::tls_server);
        boost::system::error_code ec;
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

    boost::system::error_code ec;
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
    log("at most " + std::to_string(context_.limits.total()) + " connections, " +
        std::to_string(config.connectionsPerAddress) + " per address; send budget " +
        std::to_string(context_.budget.limit() / 1024) + " KiB");
    log(std::string("listening on ") + address.to_string() + ":" + std::to_string(port_) +
        (context_.tls ? " (TLS)" : ""));
    accept();
    scheduleSweep();
    return true;
}

void Server::stop()
{
    stopped_ = true;
    boost::system::error_code ignored;
    acceptor_.close(ignored);
    sweepTimer_.cancel();
    acceptRetry_.cancel();
}

void Server::accept()
{
    acceptor_.async_accept([this](boost::system::error_code ec, tcp::socket socket) {
        if (stopped_)
            return;
        if (ec) {
            if (ec == asio::error::operation_aborted)
                return;
            // Out of descriptors and the like: try again shortly rather than spin.
            log("accept failed: " + ec.message());
            acceptRetry_.expires_after(std::chrono::milliseconds(100));
            acceptRetry_.async_wait([this](boost::system::error_code waitError) {
                if (!waitError && !stopped_)
                    accept();
            });
            return;
        }
        boost::system::error_code ignored;
        auto remote = socket.remote_endpoint(ignored);
        std::string address = remote.address().to_string();
        // Limits are checked here, before the connection costs more than this moment: a
        // refused connection is closed at once, without reading from it.
        ConnectionLimits::Refusal why{};
        auto slot = context_.limits.admit(address, &why);
        if (!slot)
            refuse(socket, address,
                   why == ConnectionLimits::Refusal::serviceFull ? "the service is at its connection limit"
                                                                 : "too many open connections from this address");
        else if (!context_.connections.allow(addressKey(address)))
            refuse(socket, address, "over the connection rate limit");
        else {
            socket.set_option(tcp::no_delay(true), ignored);
            if (context_.tls)
                serveTls(context_, std::move(socket), std::move(address), std::move(*slot));
            else
                servePlain(context_, std::move(socket), std::move(address), std::move(*slot));
        }
        accept();
    });
}

void Server::refuse(tcp::socket& socket, const std::string& address, const char* why)
{
    boost::system::error_code ignored;
    socket.close(ignored);
    auto key = address + ": " + why;
    auto it = refusals_.find(key);
    if (it != refusals_.end())
        ++it->second;
    else if (refusals_.size() < kRefusalAddressesLogged)
        refusals_.emplace(std::move(key), 1);
    else
        ++refusalsElsewhere_;
}

void Server::logRefusals()
{
    for (const auto& [what, count] : refusals_)
        log("refused " + std::to_string(count) + " connection(s) from " + what);
    if (refusalsElsewhere_)
        log("refused " + std::to_string(refusalsElsewhere_) + " more connection(s) from other addresses");
    refusals_.clear();
    refusalsElsewhere_ = 0;
}

void Server::scheduleSweep()
{
    const auto& config = context_.config;
    auto period = std::min(config.idleTimeout, config.pairingExpiry) / 20;
    period = std::clamp(period, std::chrono::milliseconds(10), std::chrono::milliseconds(1000));
    sweepTimer_.expires_after(period);
    sweepTimer_.async_wait([this](boost::system::error_code ec) {
        if (ec || stopped_)
            return;
        auto now = std::chrono::steady_clock::now();
        context_.hub.sweep(now);
        if (!refusals_.empty() && now - lastRefusalLog_ >= std::chrono::seconds(1)) {
            lastRefusalLog_ = now;
            logRefusals();
        }
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
