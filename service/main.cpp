// wickerlane-introduction: presence, signalling relay, pairing rendezvous, mailbox and key
// directory for Wickerlane, over HTTP and WebSockets on one port.

#include "HttpApi.h"
#include "Hub.h"
#include "MailStore.h"
#include "RelayServers.h"
#include "Server.h"
#include "ServiceConfig.h"

#include "platform/Log.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include <csignal>
#include <cstdio>
#include <sys/resource.h>

namespace {

// Idle links are cheap but each holds a descriptor: use all the process may have.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char** argv)
{
    using namespace wl::service;
    auto parsed = parseCommandLine(argc, argv);
    if (!parsed.config) {
        std::fprintf(parsed.isError ? stderr : stdout, "%s", parsed.message.c_str());
        if (parsed.isError)
            std::fprintf(stderr, "\n");
        return parsed.isError ? 2 : 0;
    }
    const ServiceConfig& config = *parsed.config;
    std::signal(SIGPIPE, SIG_IGN);
    raiseDescriptorLimit();

    std::string error;
    wl::Log::line("wickerlane-introduction: database " + config.databasePath);
    auto store = MailStore::open(config.databasePath, &error);
    if (!store) {
        wl::Log::line("wickerlane-introduction: not starting: " + error);
        return 1;
    }

    // Declared before the io_context: sessions that the io_context still holds when it goes
    // give their queued bytes back to it.
    SendBudget budget(config.sendBudgetBytes);
    boost::asio::io_context io(1);
    RelayServers relays(config.stunUrls, config.turnUrls, config.turnSecret, config.turnCredentialLifetime);
    Hub hub(config, *store, relays, budget);
    hub.dropExpiredMail();
    HttpApi api(config, *store, hub);
    Server server(io, config, hub, api, budget);
    if (!server.start(&error)) {
        wl::Log::line("wickerlane-introduction: not starting: " + error);
        return 1;
    }

    boost::asio::signal_set signals(io, SIGINT, SIGTERM);
    signals.async_wait([&](const boost::system::error_code& ec, int) {
        if (ec)
            return;
        wl::Log::line("wickerlane-introduction: stopping");
        server.stop();
        io.stop();
    });
    io.run();
    return 0;
}
