#include "protocol/PairedDeviceStore.h"
#include "platform/Defaults.h"

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

TEST_F(PairedDevices, UndecodableDataLoadsAsEmpty)
{
    PairedDeviceStore store{*defaults, "WLPairedHosts"};
    for (const char* bad : {"", "not json", "{}", "[1]", "[{\"id\":\"a\"}]",
                            "[{\"id\":1,\"name\":\"n\","
                            "\"publicKey\":\"k\",\"pairedAt\":0}]"}) {
        defaults->setData("WLPairedHosts", bad);
        EXPECT_TRUE(store.load().empty()) << bad;
    }
    defaults->setString("WLPairedHosts", "[]");
    EXPECT_TRUE(store.load().empty());
}
