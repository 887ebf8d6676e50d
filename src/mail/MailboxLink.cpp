#include "mail/MailboxLink.h"

#include "platform/Log.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>

namespace wl {

namespace {
constexpr std::chrono::milliseconds kPingInterval{25000};
constexpr quint64 kMaxFrameBytes = 65536;
constexpr quint16 kReplacedCode = 4000;
constexpr quint16 kRateLimitedCode = 4429;
} // namespace

MailboxLink::MailboxLink(std::function<std::optional<QUrl>()> makeURL, TimerFactory timers, QObject* parent)
    : QObject(parent), makeURL_(std::move(makeURL)), timers_(requiredTimers(std::move(timers), "MailboxLink"))
{
}

MailboxLink::~MailboxLink()
{
    running_ = false;
    reconnect_.reset();
    dropSocket();
}

void MailboxLink::setBackoff(int initialMs, int maximumMs)
{
    initialMs_ = std::max(1, initialMs);
    maximumMs_ = std::max(initialMs_, maximumMs);
    delayMs_ = initialMs_;
}

void MailboxLink::start()
{
    if (running_)
        return;
    running_ = true;
    delayMs_ = initialMs_;
    connectNow();
}

void MailboxLink::stop()
{
    running_ = false;
    reconnect_.reset();
    dropSocket();
}

// One ping every interval while the link is open, each arming the next.
void MailboxLink::armPing()
{
    ping_ = timers_(kPingInterval, [this] {
        if (!socket_ || !open_)
            return;
        socket_->ping();
        armPing();
    });
}

void MailboxLink::dropSocket()
{
    ping_.reset();
    open_ = false;
    if (!socket_)
        return;
    auto socket = std::move(socket_);
    socket->disconnect(this);
    socket->close();
    socket.release()->deleteLater();
}

void MailboxLink::connectNow()
{
    if (!running_)
        return;
    dropSocket();
    auto url = makeURL_ ? makeURL_() : std::nullopt;
    if (!url) {
        Log::line("Wickerlane: mailbox link has no address; trying again later");
        scheduleReconnect();
        return;
    }
    socket_ = std::make_unique<QWebSocket>();
    socket_->setMaxAllowedIncomingFrameSize(kMaxFrameBytes);
    socket_->setMaxAllowedIncomingMessageSize(kMaxFrameBytes);
    auto* socket = socket_.get();
    connect(socket, &QWebSocket::connected, this, [this] {
        open_ = true;
        delayMs_ = initialMs_;
        armPing();
        if (onOpen)
            onOpen();
    });
    connect(socket, &QWebSocket::textMessageReceived, this, [this](const QString& frame) {
        if (onEnvelope)
            onEnvelope(frame.toStdString());
    });
    connect(socket, &QWebSocket::disconnected, this, [this, socket] {
        if (socket != socket_.get())
            return;
        // The service's own codes (4000 and up) lie outside Qt's CloseCode enumerators:
        // compare them as numbers.
        const int code = static_cast<int>(socket->closeCode());
        bool replaced = open_ && code == kReplacedCode;
        dropSocket();
        if (replaced) {
            Log::line("Wickerlane: mailbox link replaced by a newer one; not reconnecting");
            running_ = false;
            return;
        }
        // Over the service's rate limit: the brief opening was no success, and trying
        // again soon only keeps the limit hit. Wait the longest.
        if (code == kRateLimitedCode)
            delayMs_ = maximumMs_;
        scheduleReconnect();
    });
    connect(socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
            [this, socket](QAbstractSocket::SocketError) {
                if (socket != socket_.get() || open_)
                    return; // an open link reports its end through disconnected
                dropSocket();
                scheduleReconnect();
            });
    socket->open(*url);
}

void MailboxLink::scheduleReconnect()
{
    if (!running_)
        return;
    reconnect_ = timers_(std::chrono::milliseconds(delayMs_), [this] { connectNow(); });
    delayMs_ = std::min(delayMs_ * 2, maximumMs_);
}

void MailboxLink::acknowledge(const std::string& envelopeId)
{
    if (!socket_ || !open_)
        return;
    socket_->sendTextMessage(QString::fromStdString(nlohmann::json{{"ack", envelopeId}}.dump()));
}

} // namespace wl
