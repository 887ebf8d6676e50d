#pragma once
// A WebSocket server on 127.0.0.1 inside the test process: records connections, the
// text frames they send and how they closed.
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketServer>

#include <memory>
#include <string>
#include <vector>

namespace wl::test {

class LocalWebSocketServer : public QObject {
    Q_OBJECT
public:
    struct Peer {
        QPointer<QWebSocket> socket;
        QUrl requestUrl;
        std::vector<std::string> received;
        bool closed = false;
        int closeCode = -1;
    };

    // port 0 picks a free one.
    explicit LocalWebSocketServer(quint16 port = 0);
    ~LocalWebSocketServer() override;

    bool listening() const { return server_.isListening(); }
    quint16 port() const { return server_.serverPort(); }
    QString baseURL() const; // "http://127.0.0.1:<port>/"

    std::size_t count() const { return peers_.size(); }
    Peer& peer(std::size_t index) { return *peers_.at(index); }
    Peer& last() { return *peers_.back(); }

    // What the next connections get right after they open.
    bool closeOnConnect = false;

private:
    QWebSocketServer server_;
    std::vector<std::unique_ptr<Peer>> peers_;
};

// A loopback port that refuses connections: bound by this object but not listening, so
// no other test's server can take it meanwhile (a port found free and let go could be).
// release() lets go of it just before a server of the test's own listens there.
class RefusingLoopbackPort {
public:
    RefusingLoopbackPort();
    ~RefusingLoopbackPort();
    RefusingLoopbackPort(const RefusingLoopbackPort&) = delete;
    RefusingLoopbackPort& operator=(const RefusingLoopbackPort&) = delete;

    quint16 port() const { return port_; }
    void release();

private:
    int fd_ = -1;
    quint16 port_ = 0;
};

} // namespace wl::test
