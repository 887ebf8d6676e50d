#include "platform/linux/SingleInstance.h"

#include "platform/Log.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QStandardPaths>

#include <unistd.h>

namespace wl {

namespace {
constexpr int kAnswerTimeMs = 3000;
const QByteArray kShow = "show\n";
const QByteArray kShown = "shown\n";
} // namespace

SingleInstance::SingleInstance(QString path, QObject* parent) : QObject(parent), path_(std::move(path))
{
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::answer);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::standardPath()
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::tempPath();
    const QByteArray settings = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation).toUtf8();
    const QString hash =
        QString::fromLatin1(QCryptographicHash::hash(settings, QCryptographicHash::Sha256).toHex().left(12));
    return folder + QStringLiteral("/wickerlane-%1-%2").arg(::getuid()).arg(hash);
}

bool SingleInstance::claim()
{
    // One launch at a time decides who is first.
    QLockFile lock(path_ + QStringLiteral(".lock"));
    lock.setStaleLockTime(10000);
    lock.tryLock(kAnswerTimeMs);

    QLocalSocket socket;
    socket.connectToServer(path_);
    if (socket.waitForConnected(kAnswerTimeMs)) {
        socket.write(kShow);
        socket.waitForBytesWritten(kAnswerTimeMs);
        while (socket.bytesAvailable() < kShown.size() && socket.waitForReadyRead(kAnswerTimeMs)) { }
        if (socket.readAll() == kShown)
            return false;
        Log::line("Wickerlane: another copy of Wickerlane is running but did not answer; starting anyway");
    }
    QLocalServer::removeServer(path_);
    if (!server_.listen(path_))
        Log::line("Wickerlane: a later launch can't reach this one (" + server_.errorString().toStdString() + ")");
    return true;
}

void SingleInstance::release()
{
    server_.close();
    QLocalServer::removeServer(path_);
}

void SingleInstance::answer()
{
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QPointer<SingleInstance> self(this);
        auto read = [self, socket] {
            if (socket->bytesAvailable() > 64) {
                socket->abort();
                return;
            }
            if (!socket->canReadLine())
                return;
            const QByteArray line = socket->readLine();
            if (line != kShow) {
                socket->abort();
                return;
            }
            socket->write(kShown);
            socket->flush();
            socket->disconnectFromServer();
            if (self && self->onReopen)
                self->onReopen();
        };
        connect(socket, &QLocalSocket::readyRead, this, read);
        if (socket->bytesAvailable())
            read();
    }
}

} // namespace wl
