#include "platform/linux/DBusNotifier.h"

#include "platform/Log.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QPointer>
#include <QVariantMap>

namespace wl {

namespace {
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
} // namespace

DBusNotifier::DBusNotifier(QString service, QString path, QObject* parent)
    : QObject(parent), service_(std::move(service)), path_(std::move(path))
{
}

bool DBusNotifier::available()
{
    auto bus = QDBusConnection::sessionBus();
    bool ok = bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered(service_).value();
    if (!ok && !reportedMissing_) {
        reportedMissing_ = true;
        Log::line("Wickerlane: no notification service on the session bus; notifications are off");
    }
    if (ok)
        reportedMissing_ = false;
    return ok;
}

QString DBusNotifier::shownBody(const QString& body)
{
    // A service that reads markup in the body would take "<b>" in a text from another
    // machine as markup: the body is escaped for it, so that it shows as written.
    if (!bodyMarkup_) {
        auto ask = QDBusMessage::createMethodCall(service_, path_, kInterface, QStringLiteral("GetCapabilities"));
        QDBusReply<QStringList> reply = QDBusConnection::sessionBus().call(ask, QDBus::Block, 2000);
        bodyMarkup_ = reply.isValid() && reply.value().contains(QStringLiteral("body-markup"));
    }
    return *bodyMarkup_ ? body.toHtmlEscaped() : body;
}

void DBusNotifier::prepare()
{
    if (connected_)
        return;
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        available();
        return;
    }
    connected_ = bus.connect(service_, path_, kInterface, QStringLiteral("ActionInvoked"), this,
                             SLOT(actionInvoked(uint, QString)));
    bus.connect(service_, path_, kInterface, QStringLiteral("NotificationClosed"), this,
                SLOT(notificationClosed(uint, uint)));
}

void DBusNotifier::post(const std::string& title, const std::string& body, const std::string& identifier)
{
    if (!available())
        return;
    prepare();
    auto message = QDBusMessage::createMethodCall(service_, path_, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("sound-name"), QStringLiteral("message-new-instant"));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("wickerlane"));
    message << QCoreApplication::applicationName() << uint(0) << QString() << QString::fromStdString(title)
            << shownBody(QString::fromStdString(body)) << QStringList{QStringLiteral("default"), QStringLiteral("Open")}
            << hints << int(-1);
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message), this);
    QPointer<DBusNotifier> self(this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [self, watcher, identifier] {
        watcher->deleteLater();
        QDBusPendingReply<uint> reply = *watcher;
        if (!self)
            return;
        if (reply.isError()) {
            Log::line("Wickerlane: notification not shown: " + reply.error().message().toStdString());
            return;
        }
        self->identifiers_[reply.value()] = identifier;
    });
}

void DBusNotifier::actionInvoked(uint id, const QString& action)
{
    auto it = identifiers_.find(id);
    if (it == identifiers_.end() || action != QStringLiteral("default"))
        return;
    auto identifier = it->second;
    if (onActivated)
        onActivated(identifier);
}

void DBusNotifier::notificationClosed(uint id, uint)
{
    identifiers_.erase(id);
}

} // namespace wl
