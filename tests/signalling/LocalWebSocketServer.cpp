#include "LocalWebSocketServer.h"

#include <QTcpServer>

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

quint16 unusedLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace wl::test
