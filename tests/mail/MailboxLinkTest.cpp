// The mailbox link through a service restart: it backs off while the service is gone,
// comes back by itself, and then receives what was posted while it was away.
#include "MailTestKit.h"
#include "platform/linux/QtTimers.h"

#include <gtest/gtest.h>

namespace wl::test {
namespace {

TEST(MailboxLinkRecovery, ReconnectsWithBackOffAndCollectsWaitingMail)
{
    ServiceProcess service;
    ASSERT_TRUE(service.start()) << service.log();
    Mac a{"Anna's Mac"}, b{"Ben's Mac"};
    a.make(service.httpUrl());
    b.make(service.httpUrl());
    a.pairWith(b);
    b.pairWith(a);
    ASSERT_TRUE(a.start(service));
    ASSERT_TRUE(b.start(service));
    auto* link = b.messenger->mailboxLink();
    link->setBackoff(20, 80);

    service.kill9();
    ASSERT_TRUE(waitUntil([&] { return !link->isOpen(); }));
    // Failed attempts double the wait up to its limit.
    ASSERT_TRUE(waitUntil([&] { return link->currentDelayMs() == 80; }));

    ASSERT_TRUE(service.start()) << service.log();
    // Posted while B is (possibly still) away: kept in the mailbox (SQLite) until B is back.
    ASSERT_TRUE(sendAndWait(*a.messenger, textMail("while you were away"), b.record()).ok());
    ASSERT_TRUE(waitUntil([&] { return link->isOpen(); }, 10000));
    ASSERT_TRUE(waitUntil([&] { return b.received.size() == 1; }, 10000));
    EXPECT_EQ(b.received[0].content.text, "while you were away");
    EXPECT_EQ(link->currentDelayMs(), 20); // an open link starts the back-off again
}

TEST(MailboxLinkRecovery, WaitsTheLongestAfterTheServiceRefusesItForTooManyConnections)
{
    // One request a minute from this address, and the launcher's probe took it: the service
    // accepts the WebSocket and closes it at once with 4429.
    ServiceProcess service({"--request-rate", "1"});
    ASSERT_TRUE(service.start()) << service.log();
    const std::string id(64, 'a');
    const auto url = QUrl(QString::fromStdString(service.wsUrl() + "/v1/mail/" + id));
    MailboxLink link([url]() -> std::optional<QUrl> { return url; }, qtTimerFactory());
    link.setBackoff(20, 2000);
    int opens = 0;
    link.onOpen = [&] { ++opens; };
    link.start();
    ASSERT_TRUE(waitUntil([&] { return opens >= 1; }, 5000));
    // The short opening is no success: no tries every 20 ms against the limit. Once it is
    // closed, the next try waits the longest.
    EXPECT_TRUE(waitUntil([&] { return link.currentDelayMs() == 2000; }));
    EXPECT_EQ(opens, 1);
    link.stop();
}

} // namespace
} // namespace wl::test
