#pragma once
// A small HTTPS server on 127.0.0.1 for tests, with a certificate for 127.0.0.1 made
// for it (the openssl command line) that the test trusts. Each path answers with a set
// response: a status and a body, optionally cut off after some bytes while the header
// still announces the whole length (a download cut short).
#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSslCertificate>
#include <QString>

#include <memory>
#include <optional>

class QSslServer;
class QSslSocket;

namespace wl::test {

class TempDir;

class LoopbackHttpsServer final : public QObject {
    Q_OBJECT
public:
    struct Response {
        int status = 200;
        QByteArray body;
        QByteArray contentType = "application/octet-stream";
        std::optional<qint64> cutAfter; // close the connection after this many body bytes
    };

    LoopbackHttpsServer();
    ~LoopbackHttpsServer() override;

    // Whether the certificate was made and the server listens.
    bool listening() const;
    quint16 port() const;
    // "https://127.0.0.1:<port>" + path (path begins with "/").
    QString url(const QString& path) const;
    QSslCertificate certificate() const { return certificate_; }
    void route(const QString& path, Response response) { routes_[path] = std::move(response); }
    int requests(const QString& path) const { return requests_.value(path); }

private:
    void serve(QSslSocket* socket);

    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<QSslServer> server_;
    QSslCertificate certificate_;
    QHash<QString, Response> routes_;
    QHash<QString, int> requests_;
};

} // namespace wl::test
