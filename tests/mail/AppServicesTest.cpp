// The services hub: the contact list both sides see, and the order in which mail
// reaches the parties.
#include "ManualTimers.h"
#include "RecordingNotifier.h"
#include "RefusingPort.h"
#include "ScriptedOwnerCheck.h"
#include "ScriptedPrompts.h"
#include "TestMediaEngine.h"

#include "mail/AppServices.h"
#include "identity/DeviceIdentity.h"
#include "identity/Keys.h"
#include "mail/FileLinkPeer.h"
#include "mail/MailboxLink.h"
#include "mail/PairingClient.h"
#include "platform/Log.h"
#include "platform/Required.h"
#include "platform/linux/QtTimers.h"

#include <gtest/gtest.h>

namespace wl {
namespace {

PairedDevice device(const std::string& id, const std::string& name)
{
    return PairedDevice{id, name, SigningKey::generate().publicKeyBase64(), 1000, {}, {}};
}

struct Hub {
    Hub()
    {
        options.identity = MailIdentity::inMemory(std::make_shared<MemoryDefaults>(), "Here");
        options.notifier = &notifier;
        options.prompts = &prompts;
        options.timers = qtTimerFactory();
        options.serviceURL = [this] { return QUrl(QString::fromStdString(noService.httpUrl())); };
        services = std::make_unique<AppServices>(options, ownerCheck, timers.factory());
    }
    MessengerOptions options;
    test::RefusingPort noService; // nothing there
    test::RecordingNotifier notifier;
    test::ScriptedPrompts prompts;
    test::ScriptedOwnerCheck ownerCheck;
    test::ManualTimers timers;
    std::unique_ptr<AppServices> services;
};

TEST(AppServicesTest, ContactsAreTheUnionWithTheFirstEntryOfEachId)
{
    Hub hub;
    EXPECT_TRUE(hub.services->allContacts().empty());
    EXPECT_FALSE(hub.services->isBeingHelped());
    EXPECT_FALSE(hub.services->isHelping());

    PairedDevice asHelper = device("a", "Ada as helper");
    PairedDevice asHost = device("a", "Ada as host");
    hub.services->contactLists.push_back([&] { return std::vector<PairedDevice>{asHelper, device("b", "Bo")}; });
    hub.services->contactLists.push_back([&] {
        return std::vector<PairedDevice>{asHost, device("c", "Cy"), device("c", "Cy again")};
    });
    auto contacts = hub.services->allContacts();
    ASSERT_EQ(contacts.size(), 3u);
    EXPECT_EQ(contacts[0].name, "Ada as helper");
    EXPECT_EQ(contacts[1].name, "Bo");
    EXPECT_EQ(contacts[2].name, "Cy");
    // The messenger sees the same list.
    auto seen = hub.services->messenger->contacts();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[0], asHelper);
    EXPECT_EQ(seen[2].name, "Cy");
}

TEST(AppServicesTest, MailReachesTheHandlersInOrderThenThePasswordCentre)
{
    Hub hub;
    std::vector<std::string> order;
    hub.services->mailHandlers.push_back([&](const StoredMessage& m) { order.push_back("host " + m.id); });
    hub.services->mailHandlers.push_back([&](const StoredMessage& m) { order.push_back("viewer " + m.id); });
    hub.services->passwords->onActivity = [&](const std::string& line) { order.push_back("passwords: " + line); };

    StoredMessage password;
    password.id = "m1";
    password.peerId = "a";
    password.peerName = "Ada";
    password.content.kind = MailContent::Kind::password;
    password.content.text = "Wi-Fi";
    hub.services->deliverMail(password);
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(order[0], "host m1");
    EXPECT_EQ(order[1], "viewer m1");
    EXPECT_EQ(order[2].rfind("passwords: Ada sent you", 0), 0u) << order[2];

    // Quiet mail: every kind reaches every quiet handler, in order.
    std::vector<std::string> quiet;
    hub.services->quietHandlers.push_back([&](const MailContent& c, const PairedDevice& from) {
        quiet.push_back(std::string(c.kind == MailContent::Kind::access ? "access" : "other") + " from " + from.name);
    });
    hub.services->quietHandlers.push_back([&](const MailContent&, const PairedDevice&) { quiet.push_back("second"); });
    MailContent access;
    access.kind = MailContent::Kind::access;
    access.unattended = true;
    hub.services->deliverQuiet(access, device("a", "Ada"));
    MailContent link;
    link.kind = MailContent::Kind::linkReply;
    link.text = "declined";
    hub.services->deliverQuiet(link, device("a", "Ada"));
    EXPECT_EQ(quiet, (std::vector<std::string>{"access from Ada", "second", "other from Ada", "second"}));
}

// What the mail parts need comes from their owner: settings, timers and the service's
// address. Made without them, each says so where it is made instead of keeping the
// history in memory until the next start, never reconnecting, pinging or sweeping, or
// reaching whatever service listens on the program's default address.
TEST(MailWiring, APartMadeWithoutSettingsTimersOrAServiceAddressFailsAtOnce)
{
    Hub hub;
    auto messengerWithout = [&](std::function<void(MessengerOptions&)> unset) {
        MessengerOptions options = hub.options;
        unset(options);
        std::make_unique<Messenger>("WLMessages", Messenger::Contacts{}, options);
    };
    const std::vector<std::pair<std::string, std::function<void()>>> mistakes = {
        {"Messenger was made without a settings store",
         [&] { messengerWithout([](MessengerOptions& options) { options.identity.defaults = nullptr; }); }},
        {"Messenger was made without timers",
         [&] { messengerWithout([](MessengerOptions& options) { options.timers = nullptr; }); }},
        {"PasswordCenter was made without timers",
         [&] {
             std::make_unique<PasswordCenter>(*hub.services->messenger, Messenger::Contacts{}, hub.ownerCheck,
                                              TimerFactory{});
         }},
        {"MailboxLink was made without timers",
         [] { std::make_unique<MailboxLink>([] { return std::optional<QUrl>(); }, TimerFactory{}); }},
        {"FileLinkPeer was made without timers",
         [] {
             std::make_unique<FileLinkPeer>(test::loopbackEngine(), FileLinkPeer::Role::collect, nullptr,
                                            std::vector<ICEServer>{}, MemoryDefaults{}, TimerFactory{});
         }},
        {"PairingClient was made without timers",
         [] {
             std::make_unique<PairingClient>(newPairingCode(), TimerFactory{}, std::make_shared<MapInfoDictionary>());
         }},
        {"Messenger was made without a service address",
         [&] { messengerWithout([](MessengerOptions& options) { options.serviceURL = nullptr; }); }},
        {"Messenger was made without a service address",
         [&] { messengerWithout([](MessengerOptions& options) { options.serviceURL = [] { return QUrl(); }; }); }},
        {"PairingClient was made without a service address",
         [&] {
             std::make_unique<PairingClient>(newPairingCode(), hub.timers.factory(),
                                             std::make_shared<MapInfoDictionary>());
         }},
    };
    for (const auto& [mistake, make] : mistakes) {
        CapturedLog log;
        EXPECT_THROW(make(), WiringMistake) << mistake;
        EXPECT_TRUE(log.contains("Wickerlane: " + mistake)) << mistake;
    }
}

} // namespace
} // namespace wl
