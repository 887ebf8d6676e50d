#pragma once
// What every connection of the server shares: settings, routing, limits and the send budget.
// Everything runs on the one thread of the io_context.

#include "ConnectionLimits.h"
#include "HttpApi.h"
#include "Hub.h"
#include "RateLimiter.h"
#include "SendBudget.h"
#include "ServiceConfig.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl/context.hpp>

#include <optional>

namespace wl::service {

struct ServerContext {
    boost::asio::io_context& io;
    const ServiceConfig& config;
    Hub& hub;
    HttpApi& api;
    SendBudget& budget;
    RateLimiter connections;
    RateLimiter requests;
    ConnectionLimits limits;
    std::optional<boost::asio::ssl::context> tls;

    // The first byte of a request may take this long, never longer than a whole request.
    std::chrono::milliseconds firstByteTimeout() const
    {
        return std::min(config.firstByteTimeout, config.requestTimeout);
    }
};

} // namespace wl::service
