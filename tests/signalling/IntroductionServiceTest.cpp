#include "signalling/IntroductionService.h"

#include "LocalWebSocketServer.h"
#include "WaitUntil.h"
#include "platform/InfoDictionary.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QUrlQuery>

#include <gtest/gtest.h>

using namespace wl;
using wl::test::waitUntil;

namespace {

MapInfoDictionary useIntroductionService(const std::string& baseURL)
{
    return MapInfoDictionary(std::map<std::string, std::string>{{"WLIntroductionURL", baseURL}});
}

// Answers every request with a fixed raw HTTP response (or closes without one) and
// records the request lines.
class TinyHttpServer {
public:
    explicit TinyHttpServer(QByteArray response) : response_(std::move(response))
    {
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    buffer_ += socket->readAll();
                    if (!buffer_.contains("\r\n\r\n"))
                        return;
                    requestLines_.push_back(buffer_.left(buffer_.indexOf("\r\n")).toStdString());
                    buffer_.clear();
                    if (!response_.isEmpty())
                        socket->write(response_);
                    socket->disconnectFromHost();
                });
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            }
        });
        server_.listen(QHostAddress::LocalHost, 0);
    }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(server_.serverPort()) + "/"; }
    std::vector<std::string> requestLines_;

private:
    QTcpServer server_;
    QByteArray response_;
    QByteArray buffer_;
};

QByteArray httpResponse(int status, const QByteArray& body)
{
    return "HTTP/1.1 " + QByteArray::number(status) +
        " X\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size()) +
        "\r\nConnection: close\r\n\r\n" + body;
}

std::optional<bool> askOnline(const std::string& base, const std::string& id = std::string(64, 'a'))
{
    const MapInfoDictionary info = useIntroductionService(base);
    std::optional<bool> answer;
    int calls = 0;
    IntroductionService::isOnline(info, id, [&](bool online) {
        answer = online;
        ++calls;
    });
    waitUntil([&] { return calls > 0; }, 8000);
    EXPECT_TRUE(wl::test::waitForNextTurn()) << "what the answer queued has run";
    EXPECT_LE(calls, 1);
    return answer;
}

class IntroductionServiceTest : public ::testing::Test {
protected:
    MapInfoDictionary info; // no key: no service
};

} // namespace

TEST_F(IntroductionServiceTest, WebSocketURLs)
{
    info = useIntroductionService("http://127.0.0.1:8787/");
    EXPECT_EQ(IntroductionService::webSocketURL(info, "v1/connect/abc").toString(),
              "ws://127.0.0.1:8787/v1/connect/abc");

    info = useIntroductionService("https://intro.example.org");
    EXPECT_EQ(IntroductionService::webSocketURL(info, "v1/pair/join/ABCD2345").toString(),
              "wss://intro.example.org/v1/pair/join/ABCD2345");

    // A base with a path keeps it; the path is appended as a component.
    info = useIntroductionService("https://example.org/intro");
    EXPECT_EQ(IntroductionService::webSocketURL(info, "v1/host/ff").toString(), "wss://example.org/intro/v1/host/ff");
    EXPECT_EQ(IntroductionService::httpURL(info, "v1/status/ff").toString(), "https://example.org/intro/v1/status/ff");

    // Query items only when there are some, percent-encoded so base64 survives.
    info = useIntroductionService("http://127.0.0.1:8787/");
    QUrl signedURL = IntroductionService::webSocketURL(info, "v1/host/ab",
                                                       {{"pub", "a+b/c=="}, {"ts", "1700000000"}, {"sig", "x y&z"}});
    EXPECT_EQ(signedURL.toString(QUrl::FullyEncoded),
              "ws://127.0.0.1:8787/v1/host/ab?pub=a%2Bb%2Fc%3D%3D&ts=1700000000&sig=x%20y%26z");
    QUrlQuery query(signedURL);
    EXPECT_EQ(query.queryItemValue("pub", QUrl::FullyDecoded), "a+b/c==");
    EXPECT_EQ(query.queryItemValue("sig", QUrl::FullyDecoded), "x y&z");
    EXPECT_FALSE(IntroductionService::webSocketURL(info, "v1/host/ab", {}).hasQuery());

    // A dictionary without a usable URL gives none: no part falls back to an address it
    // was not given (the program's default is its own dictionary's).
    for (const char* bad : {"", "not a url", "ftp://example.org/", "http://"}) {
        info = useIntroductionService(bad);
        EXPECT_TRUE(IntroductionService::webSocketURL(info, "v1/status/x").isEmpty()) << bad;
        EXPECT_TRUE(IntroductionService::httpURL(info, "v1/status/x").isEmpty()) << bad;
    }
    EXPECT_TRUE(IntroductionService::baseURL(MapInfoDictionary()).isEmpty());
}

TEST_F(IntroductionServiceTest, IsOnlineOnlyForStatus200WithOnlineTrue)
{
    TinyHttpServer online(httpResponse(200, "{\"online\": true}"));
    EXPECT_EQ(askOnline(online.base(), "0123abcd"), true);
    ASSERT_EQ(online.requestLines_.size(), 1u);
    EXPECT_EQ(online.requestLines_[0], "GET /v1/status/0123abcd HTTP/1.1");

    TinyHttpServer offline(httpResponse(200, "{\"online\": false}"));
    EXPECT_EQ(askOnline(offline.base()), false);

    TinyHttpServer notFound(httpResponse(404, "{\"online\": true}"));
    EXPECT_EQ(askOnline(notFound.base()), false);

    TinyHttpServer garbage(httpResponse(200, "<html>online</html>"));
    EXPECT_EQ(askOnline(garbage.base()), false);

    TinyHttpServer wrongType(httpResponse(200, "{\"online\": \"true\"}"));
    EXPECT_EQ(askOnline(wrongType.base()), false);

    TinyHttpServer noAnswer(QByteArray{});
    EXPECT_EQ(askOnline(noAnswer.base()), false);

    TinyHttpServer notHttp("SSH-2.0-OpenSSH\r\n\r\n");
    EXPECT_EQ(askOnline(notHttp.base()), false);

    wl::test::RefusingLoopbackPort refusing;
    EXPECT_EQ(askOnline("http://127.0.0.1:" + std::to_string(refusing.port()) + "/"), false);
}

TEST_F(IntroductionServiceTest, IsOnlineSkipsTheCallbackWhenItsContextIsGone)
{
    TinyHttpServer online(httpResponse(200, "{\"online\": true}"));
    info = useIntroductionService(online.base());
    auto context = std::make_unique<QObject>();
    bool called = false;
    IntroductionService::isOnline(
        info, "ab", [&](bool) { called = true; }, context.get());
    context.reset();
    ASSERT_TRUE(waitUntil([&] { return online.requestLines_.size() == 1; }));
    // A second ask, made once the first has been answered: when its answer is in, the
    // first one's is too.
    bool later = false;
    IntroductionService::isOnline(info, "cd", [&](bool) { later = true; });
    ASSERT_TRUE(waitUntil([&] { return later; }));
    EXPECT_FALSE(called);
}
