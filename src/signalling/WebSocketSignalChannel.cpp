#include "signalling/WebSocketSignalChannel.h"

#include "platform/Log.h"
#include "platform/MainThread.h"

#include <QPointer>
#include <QThread>
#include <QWebSocket>

namespace wl {

std::shared_ptr<WebSocketSignalChannel> WebSocketSignalChannel::make(const QUrl& url, TimerFactory timers)
{
    return std::shared_ptr<WebSocketSignalChannel>(new WebSocketSignalChannel(url, std::move(timers)),
                                                   [](WebSocketSignalChannel* channel) {
                                                       channel->shutDownQuietly();
                                                       channel->deleteLater();
                                                   });
}

void WebSocketSignalChannel::shutDownQuietly()
{
    // Nobody holds the channel any more: no handler may run after this.
    onOpen = nullptr;
    onMessage = nullptr;
    onClose = nullptr;
    ping_.reset();
    if (socket_) {
        socket_->disconnect(this);
        if (!closed_ && socket_->state() != QAbstractSocket::UnconnectedState)
            socket_->close(QWebSocketProtocol::CloseCodeNormal);
    }
    closed_ = true;
}

WebSocketSignalChannel::WebSocketSignalChannel(const QUrl& url, TimerFactory timers)
    : url_(url), timers_(requiredTimers(std::move(timers), "WebSocketSignalChannel"))
{
    socket_ = new QWebSocket(QString(), QWebSocketProtocol::VersionLatest, this);
    socket_->setMaxAllowedIncomingMessageSize(kMaxMessageBytes);
    socket_->setMaxAllowedIncomingFrameSize(kMaxMessageBytes);
    QObject::connect(socket_, &QWebSocket::connected, this, &WebSocketSignalChannel::handleConnected);
    QObject::connect(socket_, &QWebSocket::disconnected, this, [this] {
        if (!closed_)
            closeCode_ = socket_->closeCode();
        close();
    });
    QObject::connect(socket_, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
                     [this](QAbstractSocket::SocketError) {
                         if (!closed_)
                             Log::line("Wickerlane: signalling link error: " + socket_->errorString().toStdString());
                         close();
                     });
    QObject::connect(socket_, &QWebSocket::textMessageReceived, this, &WebSocketSignalChannel::handleText);
    QObject::connect(socket_, &QWebSocket::binaryMessageReceived, this, &WebSocketSignalChannel::handleBinary);
}

WebSocketSignalChannel::~WebSocketSignalChannel()
{
    ping_.reset();
    if (socket_) {
        socket_->disconnect(this);
        if (!closed_)
            socket_->abort();
    }
}

void WebSocketSignalChannel::open()
{
    if (started_ || closed_)
        return;
    started_ = true;
    socket_->open(url_);
}

void WebSocketSignalChannel::send(const SignalMessage& message)
{
    if (QThread::currentThread() != thread()) {
        QPointer<WebSocketSignalChannel> self(this);
        postToMainThread([self, message] {
            if (self)
                self->send(message);
        });
        return;
    }
    if (closed_)
        return;
    std::string text = message.encode();
    if (static_cast<qint64>(text.size()) > kMaxMessageBytes) {
        // The other side would close the link for it (1009): drop it instead.
        Log::line("Wickerlane: a signalling message of " + std::to_string(text.size()) +
                  " bytes is over the limit and was not sent");
        return;
    }
    if (!opened_) {
        pending_.push_back(std::move(text));
        return;
    }
    sendText(text);
}

void WebSocketSignalChannel::sendText(const std::string& text)
{
    socket_->sendTextMessage(QString::fromStdString(text));
}

void WebSocketSignalChannel::handleConnected()
{
    if (closed_)
        return;
    opened_ = true;
    armPing();
    // Keep the object alive through the handlers below.
    auto keep = weak_from_this().lock();
    auto pending = std::move(pending_);
    pending_.clear();
    for (const auto& text : pending) {
        if (closed_)
            return;
        sendText(text);
    }
    if (closed_)
        return;
    if (auto handler = onOpen)
        handler();
}

// One ping every interval while the link is open, each arming the next.
void WebSocketSignalChannel::armPing()
{
    ping_ = timers_(kPingInterval, [this] {
        if (!socket_ || !opened_ || closed_)
            return;
        socket_->ping();
        armPing();
    });
}

void WebSocketSignalChannel::handleText(const QString& text)
{
    if (closed_)
        return;
    QByteArray utf8 = text.toUtf8();
    if (utf8.size() > kMaxMessageBytes) {
        Log::line("Wickerlane: signalling frame over 65536 bytes; closing the link");
        close();
        return;
    }
    std::string error;
    auto message =
        SignalMessage::decode(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())), &error);
    if (!message) {
        Log::line("Wickerlane: dropped an unreadable signalling message: " + error);
        return;
    }
    auto keep = weak_from_this().lock();
    if (auto handler = onMessage)
        handler(*message);
}

void WebSocketSignalChannel::handleBinary(const QByteArray& bytes)
{
    if (closed_)
        return;
    if (bytes.size() > kMaxMessageBytes) {
        close();
        return;
    }
    Log::line("Wickerlane: dropped a binary signalling frame");
}

void WebSocketSignalChannel::close()
{
    if (QThread::currentThread() != thread()) {
        QPointer<WebSocketSignalChannel> self(this);
        postToMainThread([self] {
            if (self)
                self->close();
        });
        return;
    }
    if (closed_)
        return;
    closed_ = true;
    ping_.reset();
    pending_.clear();
    auto keep = weak_from_this().lock();
    // No more events from the socket: this close is the only one reported.
    socket_->disconnect(this);
    if (socket_->state() != QAbstractSocket::UnconnectedState)
        socket_->close(QWebSocketProtocol::CloseCodeNormal);
    auto handler = std::move(onClose);
    onClose = nullptr;
    onOpen = nullptr;
    if (handler)
        handler();
}

} // namespace wl
