#include "protocol/PairedDeviceStore.h"
#include "platform/Defaults.h"
#include "platform/Log.h"

#include <gtest/gtest.h>

using namespace wl;

namespace {

class PairedDevices : public ::testing::Test {
protected:
    std::shared_ptr<MemoryDefaults> defaults = std::make_shared<MemoryDefaults>();
};

PairedDevice sample(const std::string& id)
{
    PairedDevice d;
    d.id = id;
    d.name = "Ada Lovelace";
    d.publicKey = "11qYAYKxCrfVS/7TyWQHOg7hcvPapiMlrwIaaPcHURo=";
    d.pairedAt = 740000000.25;
    return d;
}

} // namespace

TEST_F(PairedDevices, SaveAndLoadKeepEveryField)
{
    PairedDeviceStore store{*defaults, "WLPairedHosts"};
    EXPECT_TRUE(store.load().empty());

    PairedDevice a = sample("a");
    PairedDevice b = sample("b");
    b.unattended = UnattendedGrant{740000100, "a2V5", "c2FsdA==", 2};
    b.person = "person-key";
    store.save({a, b});
    EXPECT_EQ(store.load(), (std::vector<PairedDevice>{a, b}));
    // Another key is another list.
    EXPECT_TRUE((PairedDeviceStore{*defaults, "WLPairedHelpers"}.load().empty()));

    store.save({});
    EXPECT_TRUE(store.load().empty());
    EXPECT_EQ(defaults->data("WLPairedHosts"), std::string("[]"));
}

// A record that can't be read costs only itself; the bytes it was in are kept aside before
// the first save replaces them, once, and nothing secret of it reaches the log.
TEST_F(PairedDevices, AnUnreadableRecordIsLeftOutAndItsBytesKept)
{
    PairedDeviceStore store{*defaults, "WLPairedHosts"};
    const PairedDevice a = sample("a"), c = sample("c"), d = sample("d");
    auto bad = sample("b").toJson();
    bad["pairedAt"] = "yesterday";
    bad["unattended"] = {{"enabledAt", 1}, {"pinKey", "c2VjcmV0LXBpbi1rZXk="}, {"failedAttempts", 0}};
    const std::string stored = "[" + a.encode() + "," + bad.dump() + "," + c.encode() + "]";
    defaults->setData("WLPairedHosts", stored);
    {
        CapturedLog log;
        EXPECT_EQ(store.load(), (std::vector<PairedDevice>{a, c}));
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_NE(log.lines()[0].find("paired device 1 (id b) under WLPairedHosts"), std::string::npos)
            << log.lines()[0];
        EXPECT_NE(log.lines()[0].find("pairedAt"), std::string::npos) << log.lines()[0];
        EXPECT_EQ(log.lines()[0].find(sample("b").publicKey), std::string::npos) << log.lines()[0];
        EXPECT_EQ(log.lines()[0].find("c2VjcmV0"), std::string::npos) << log.lines()[0];
    }

    store.save({a, c, d});
    EXPECT_EQ(defaults->data("WLPairedHostsUnreadableCopy"), stored);
    EXPECT_EQ(store.load(), (std::vector<PairedDevice>{a, c, d}));
    store.save({a, c});
    EXPECT_EQ(defaults->data("WLPairedHostsUnreadableCopy"), stored);
    EXPECT_FALSE(defaults->contains("WLPairedHostsUnreadableCopy2")) << "readable bytes need no copy";

    // Bytes that are no list at all load as none, and a later copy goes beside the first.
    for (const char* unreadable : {"not json", "{}", "[1]", "[{\"id\":\"a\"}]"}) {
        defaults->setData("WLPairedHosts", unreadable);
        EXPECT_TRUE(store.load().empty()) << unreadable;
    }
    store.save({d});
    store.save({d});
    EXPECT_EQ(defaults->data("WLPairedHostsUnreadableCopy"), stored);
    EXPECT_EQ(defaults->data("WLPairedHostsUnreadableCopy2"), std::string("[{\"id\":\"a\"}]"));
    EXPECT_FALSE(defaults->contains("WLPairedHostsUnreadableCopy3"));
    EXPECT_EQ(store.load(), (std::vector<PairedDevice>{d}));

    defaults->setData("WLPairedHosts", "");
    EXPECT_TRUE(store.load().empty());
    defaults->setString("WLPairedHosts", "[]");
    EXPECT_TRUE(store.load().empty());
}
