#include "HttpSession.h"

#include <boost/asio/ssl.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <array>

namespace wl::service {

void serveTls(ServerContext& context, boost::asio::ip::tcp::socket socket, std::string address,
              ConnectionLimits::Slot slot)
{
    using namespace sessions;
    using TlsStream = beast::ssl_stream<beast::tcp_stream>;
    struct Pending {
        TlsStream stream;
        std::string address;
        ConnectionLimits::Slot slot;
        std::array<char, 2048> first{};
    };
    auto pending = std::make_shared<Pending>(
        Pending{TlsStream(beast::tcp_stream(std::move(socket)), *context.tls), std::move(address), std::move(slot)});
    // The client speaks first: a short wait for its first bytes, then the whole request time
    // for the handshake.
    auto& lowest = beast::get_lowest_layer(pending->stream);
    lowest.expires_after(context.firstByteTimeout());
    lowest.async_read_some(asio::buffer(pending->first), [&context, pending](beast::error_code ec, std::size_t n) {
        if (ec)
            return;
        beast::get_lowest_layer(pending->stream).expires_after(context.config.requestTimeout);
        pending->stream.async_handshake(asio::ssl::stream_base::server, asio::buffer(pending->first.data(), n),
                                        // Boost 1.81 checks this overload's handler against the one-argument signature,
                                        // so the handler takes both.
                                        [&context, pending](beast::error_code handshakeError, std::size_t = 0) {
                                            if (handshakeError)
                                                return;
                                            std::make_shared<HttpSession<TlsStream>>(
                                                std::move(pending->stream), context, std::move(pending->address),
                                                std::move(pending->slot))
                                                ->run();
                                        });
    });
}

} // namespace wl::service
