// The D-Bus notifier against a stand-in notification service on the session bus of the
// test environment (its own connection and name, so a running daemon is not disturbed).
#include "TestEnvironment.h"
#include "WaitUntil.h"

#include "platform/Log.h"
#include "platform/linux/DBusNotifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace wl::test {

class FakeNotificationService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString app, summary, body;
        QStringList actions;
        QVariantMap hints;
    };
    QList<Call> calls;

public Q_SLOTS:
    Q_SCRIPTABLE uint Notify(const QString& app, uint, const QString&, const QString& summary, const QString& body,
                             const QStringList& actions, const QVariantMap& hints, int)
    {
        calls.append({app, summary, body, actions, hints});
        return 40 + uint(calls.size());
    }

Q_SIGNALS:
    Q_SCRIPTABLE void ActionInvoked(uint id, const QString& action);
};

namespace {

const QString kName = QStringLiteral("org.wickerlane.test.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

TEST(DBusNotifierTest, PostsWithTheDefaultSoundAndReportsClicks)
{
    WL_REQUIRE_TEST_ENV(std::getenv("DBUS_SESSION_BUS_ADDRESS"), "the D-Bus session");
    auto bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-notifications"));
    ASSERT_TRUE(bus.isConnected());
    FakeNotificationService fake;
    ASSERT_TRUE(bus.registerObject(kPath, &fake,
                                   QDBusConnection::ExportScriptableSlots | QDBusConnection::ExportScriptableSignals));
    ASSERT_TRUE(bus.registerService(kName));

    DBusNotifier notifier(kName, kPath);
    std::vector<std::string> clicked;
    notifier.onActivated = [&](const std::string& identifier) { clicked.push_back(identifier); };
    notifier.prepare();
    notifier.post("Anna's Mac", "Hello", "message-1");
    notifier.post("Ben's Mac", "Hi", "message-2");
    ASSERT_TRUE(waitUntil([&] { return fake.calls.size() == 2; }));
    EXPECT_EQ(fake.calls[0].summary, "Anna's Mac");
    EXPECT_EQ(fake.calls[0].body, "Hello");
    EXPECT_TRUE(fake.calls[0].actions.contains("default"));
    EXPECT_EQ(fake.calls[0].hints.value("sound-name").toString(), "message-new-instant");

    // Wait until the notifier knows both ids (no answer to a post is still to come), then
    // click the second one.
    ASSERT_TRUE(waitUntil([&] { return notifier.findChildren<QDBusPendingCallWatcher*>().empty(); }));
    Q_EMIT fake.ActionInvoked(42, QStringLiteral("default"));
    ASSERT_TRUE(waitUntil([&] { return clicked.size() == 1; }));
    EXPECT_EQ(clicked[0], "message-2");
    // One that is not ours, then the first: only the first is reported (the bus keeps
    // their order).
    Q_EMIT fake.ActionInvoked(99, QStringLiteral("default"));
    Q_EMIT fake.ActionInvoked(41, QStringLiteral("default"));
    ASSERT_TRUE(waitUntil([&] { return clicked.size() >= 2; }));
    EXPECT_EQ(clicked, (std::vector<std::string>{"message-2", "message-1"}));

    bus.unregisterService(kName);
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-notifications"));
}

TEST(DBusNotifierTest, WithoutAServiceNothingIsPosted)
{
    WL_REQUIRE_TEST_ENV(std::getenv("DBUS_SESSION_BUS_ADDRESS"), "the D-Bus session");
    CapturedLog log;
    DBusNotifier notifier(QStringLiteral("org.wickerlane.test.Nobody"), kPath);
    bool activated = false;
    notifier.onActivated = [&](const std::string&) { activated = true; };
    notifier.post("title", "body", "id-1");
    notifier.post("title", "body", "id-2");
    ASSERT_TRUE(waitUntil([&] { return notifier.findChildren<QDBusPendingCallWatcher*>().empty(); }))
        << "no post under way";
    // Said once, not for every post; nothing was shown, so nothing can be clicked.
    const std::string missing = "Wickerlane: no notification service on the session bus; notifications are off";
    auto lines = log.lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), missing), 1) << ::testing::PrintToString(lines);
    EXPECT_FALSE(log.contains("notification not shown"));
    EXPECT_FALSE(activated);
}

} // namespace
} // namespace wl::test

#include "NotifierTest.moc"
