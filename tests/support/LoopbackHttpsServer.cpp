#include "LoopbackHttpsServer.h"

#include "TestDirs.h"

#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>

namespace wl::test {

LoopbackHttpsServer::LoopbackHttpsServer() : dir_(std::make_unique<TempDir>())
{
    const QString key = QString::fromStdString((dir_->path() / "key.pem").string());
    const QString cert = QString::fromStdString((dir_->path() / "cert.pem").string());
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"), QStringLiteral("ec"),
                   QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-days"), QStringLiteral("1"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1"), QStringLiteral("-keyout"), key,
                   QStringLiteral("-out"), cert});
    if (!openssl.waitForFinished(20000) || openssl.exitCode() != 0)
        return;
    QFile certFile(cert), keyFile(key);
    if (!certFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
        return;
    certificate_ = QSslCertificate(certFile.readAll(), QSsl::Pem);
    QSslKey privateKey(keyFile.readAll(), QSsl::Ec, QSsl::Pem);
    if (certificate_.isNull() || privateKey.isNull())
        return;
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificate(certificate_);
    tls.setPrivateKey(privateKey);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    server_ = std::make_unique<QSslServer>();
    server_->setSslConfiguration(tls);
    connect(server_.get(), &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (server_->hasPendingConnections())
            if (auto* socket = qobject_cast<QSslSocket*>(server_->nextPendingConnection()))
                serve(socket);
    });
    if (!server_->listen(QHostAddress::LocalHost, 0))
        server_.reset();
}

LoopbackHttpsServer::~LoopbackHttpsServer() = default;

bool LoopbackHttpsServer::listening() const
{
    return server_ && server_->isListening();
}

quint16 LoopbackHttpsServer::port() const
{
    return server_ ? server_->serverPort() : 0;
}

QString LoopbackHttpsServer::url(const QString& path) const
{
    return QStringLiteral("https://127.0.0.1:%1%2").arg(port()).arg(path);
}

void LoopbackHttpsServer::serve(QSslSocket* socket)
{
    socket->setParent(this);
    auto buffer = std::make_shared<QByteArray>();
    auto answer = [this, socket, buffer] {
        buffer->append(socket->readAll());
        const qsizetype end = buffer->indexOf("\r\n\r\n");
        if (end < 0) {
            if (buffer->size() > 65536)
                socket->abort();
            return;
        }
        const QList<QByteArray> requestLine = buffer->left(buffer->indexOf("\r\n")).split(' ');
        buffer->clear();
        const QString path = requestLine.size() >= 2 ? QString::fromLatin1(requestLine[1]) : QString();
        requests_[path] += 1;
        Response response;
        if (auto it = routes_.find(path); it != routes_.end())
            response = *it;
        else
            response = Response{404, "not here", "text/plain", std::nullopt};
        QByteArray head = "HTTP/1.1 " + QByteArray::number(response.status) +
            " X\r\nContent-Type: " + response.contentType +
            "\r\nContent-Length: " + QByteArray::number(response.body.size()) + "\r\nConnection: close\r\n\r\n";
        socket->write(head);
        if (response.cutAfter) {
            socket->write(response.body.left(*response.cutAfter));
            socket->flush();
            socket->disconnectFromHost();
            return;
        }
        socket->write(response.body);
        socket->disconnectFromHost();
    };
    connect(socket, &QSslSocket::readyRead, this, answer);
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    if (socket->bytesAvailable())
        answer();
}

} // namespace wl::test
