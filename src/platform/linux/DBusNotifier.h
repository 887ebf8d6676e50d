#pragma once
// Notifications through the freedesktop notification service on the session bus.

#include "platform/Notifier.h"

#include <QObject>
#include <QString>

#include <map>
#include <optional>

namespace wl {

class DBusNotifier final : public QObject, public Notifier {
    Q_OBJECT
public:
    // The service name and path are those of the freedesktop notification standard unless a
    // test gives its own.
    explicit DBusNotifier(QString service = QStringLiteral("org.freedesktop.Notifications"),
                          QString path = QStringLiteral("/org/freedesktop/Notifications"), QObject* parent = nullptr);

    void prepare() override;
    void post(const std::string& title, const std::string& body, const std::string& identifier) override;

private Q_SLOTS:
    void actionInvoked(uint id, const QString& action);
    void notificationClosed(uint id, uint reason);

private:
    bool available();
    // The body as the service is to show it: escaped where it reads markup.
    QString shownBody(const QString& body);

    QString service_;
    QString path_;
    bool connected_ = false;
    bool reportedMissing_ = false;
    std::optional<bool> bodyMarkup_; // whether the service reads markup in the body, once asked
    std::map<uint, std::string> identifiers_; // notification id → our identifier
};

} // namespace wl
