#pragma once
// Serving one accepted connection: HTTP/1.1 requests until one of them becomes a WebSocket.
// The plain and the TLS variant live in their own translation units (they are heavy to
// compile).

#include "ConnectionLimits.h"

#include <boost/asio/ip/tcp.hpp>

#include <string>

namespace wl::service {

struct ServerContext;

void servePlain(ServerContext& context, boost::asio::ip::tcp::socket socket, std::string address,
                ConnectionLimits::Slot slot);
// Waits for the first byte, then the TLS handshake, then serves as above.
void serveTls(ServerContext& context, boost::asio::ip::tcp::socket socket, std::string address,
              ConnectionLimits::Slot slot);

} // namespace wl::service
