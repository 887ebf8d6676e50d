// The service over TLS: HTTPS and WSS on the one port, with a certificate made for the test.

#include "ServiceTestKit.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <cstdlib>

namespace wl::test {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

TEST(ServiceTls, HttpsAndWebSocketsOnOnePort)
{
    TempDir dir;
    auto cert = (dir.path() / "cert.pem").string();
    auto key = (dir.path() / "key.pem").string();
    std::string command = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 "
                          "-subj /CN=127.0.0.1 -keyout " +
        key + " -out " + cert + " >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0)
        GTEST_SKIP() << "openssl cannot make a test certificate here";

    ServiceProcess service({"--cert", cert, "--key", key});
    ASSERT_TRUE(service.start()) << service.log();

    asio::io_context io;
    asio::ssl::context tls(asio::ssl::context::tls_client);
    tls.load_verify_file(cert);
    tls.set_verify_mode(asio::ssl::verify_peer);
    tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), service.port());

    TestDevice device;
    websocket::stream<beast::ssl_stream<beast::tcp_stream>> ws(io, tls);
    beast::get_lowest_layer(ws).expires_after(std::chrono::seconds(5));
    beast::get_lowest_layer(ws).connect(endpoint);
    ws.next_layer().handshake(asio::ssl::stream_base::client);
    beast::get_lowest_layer(ws).expires_never();
    ws.handshake("127.0.0.1", device.hostTarget());

    beast::ssl_stream<beast::tcp_stream> https(io, tls);
    beast::get_lowest_layer(https).expires_after(std::chrono::seconds(5));
    beast::get_lowest_layer(https).connect(endpoint);
    https.handshake(asio::ssl::stream_base::client);
    http::request<http::empty_body> request(http::verb::get, "/v1/status/" + device.id, 11);
    request.set(http::field::host, "127.0.0.1");
    http::write(https, request);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(https, buffer, response);
    EXPECT_EQ(response.result_int(), 200u);
    EXPECT_EQ(nlohmann::json::parse(response.body()), nlohmann::json({{"online", true}}));

    ws.close(websocket::close_code::normal);
    // A plain-text client on the TLS port gets nowhere, and the service carries on.
    EXPECT_EQ(ServiceProcess::httpRequest(service.port(), "GET", "/v1/status/" + device.id), 0);
    EXPECT_TRUE(service.running());
}

} // namespace
} // namespace wl::test
