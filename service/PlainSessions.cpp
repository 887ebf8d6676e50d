#include "HttpSession.h"

namespace wl::service {

void servePlain(ServerContext& context, boost::asio::ip::tcp::socket socket, std::string address,
                ConnectionLimits::Slot slot)
{
    using namespace sessions;
    std::make_shared<HttpSession<beast::tcp_stream>>(beast::tcp_stream(std::move(socket)), context, std::move(address),
                                                     std::move(slot))
        ->run();
}

} // namespace wl::service
