#include "LocalWebSocketServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace wl::test {

LocalWebSocketServer::LocalWebSocketServer(quint16 port)
    : server_(QStringLiteral("wickerlane-test"), QWebSocketServer::NonSecureMode)
{
    server_.setMaxPendingConnections(64);
    QObject::connect(&server_, &QWebSocketServer::newConnection, this, [this] {
        while (QWebSocket* socket = server_.nextPendingConnection()) {
            socket->setParent(this);
            socket->setMaxAllowedIncomingMessageSize(1 << 20);
            auto peer = std::make_unique<Peer>();
            Peer* raw = peer.get();
            raw->socket = socket;
            raw->requestUrl = socket->requestUrl();
            peers_.push_back(std::move(peer));
            QObject::connect(socket, &QWebSocket::textMessageReceived, this,
                             [raw](const QString& text) { raw->received.push_back(text.toStdString()); });
            QObject::connect(socket, &QWebSocket::disconnected, this, [raw, socket] {
                raw->closed = true;
                raw->closeCode = socket->closeCode();
            });
            if (closeOnConnect)
                socket->close(QWebSocketProtocol::CloseCodeGoingAway);
        }
    });
    server_.listen(QHostAddress::LocalHost, port);
}

LocalWebSocketServer::~LocalWebSocketServer()
{
    server_.close();
    for (auto& peer : peers_)
        if (peer->socket)
            peer->socket->abort();
}

QString LocalWebSocketServer::baseURL() const
{
    return QStringLiteral("http://127.0.0.1:%1/").arg(port());
}

RefusingLoopbackPort::RefusingLoopbackPort()
{
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd_ >= 0 && ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port_ = ntohs(address.sin_port);
}

RefusingLoopbackPort::~RefusingLoopbackPort()
{
    release();
}

void RefusingLoopbackPort::release()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

} // namespace wl::test
