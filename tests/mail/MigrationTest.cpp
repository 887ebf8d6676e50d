// The one-time import from the former helper program's settings and key folder.
#include "TestDirs.h"

#include "identity/Keys.h"
#include "mail/MigrateMergedApps.h"
#include "mail/StoredMessage.h"
#include "platform/Log.h"
#include "platform/linux/FileKeyStore.h"
#include "platform/linux/SettingsDefaults.h"
#include "protocol/PairedDevice.h"

#include <gtest/gtest.h>

namespace wl::test {
namespace {

PairedDevice device(const std::string& id, const std::string& name)
{
    return PairedDevice{id, name, SigningKey::generate().publicKeyBase64(), 1000, {}, {}};
}

StoredMessage message(const std::string& id)
{
    StoredMessage m;
    m.id = id;
    m.peerId = "p";
    m.peerName = "P";
    m.content.kind = MailContent::Kind::message;
    m.content.text = id;
    m.at = 10;
    return m;
}

TEST(MigrateMergedAppsTest, ImportsOnceWithoutReplacingWhatIsThere)
{
    TempDir dir;
    LegacyHelperLocation legacy{dir.path() / "Wickerlane Helper.conf", dir.path() / "identity"};
    {
        SettingsDefaults old(QString::fromStdString(legacy.settingsFile.string()));
        old.setData("WLPairedHosts", PairedDevice::encodeList({device("h1", "Old name"), device("h2", "Second")}));
        old.setData("WLMessages", StoredMessage::encodeList({message("m-old"), message("m-both")}));
        old.sync();
        FileKeyStore keys(legacy.keyFolder);
        ASSERT_TRUE(keys.write("device-signing", std::string(32, 'd')));
        ASSERT_TRUE(keys.write("mail-agreement", std::string(32, 'm')));
    }
    MemoryDefaults defaults;
    MemoryKeyStore keys;
    defaults.setData("WLPairedHosts", PairedDevice::encodeList({device("h1", "Current name")}));
    defaults.setData("WLMessages", StoredMessage::encodeList({message("m-both"), message("m-new")}));
    ASSERT_TRUE(keys.write("device-signing", std::string(32, 'x')));

    CapturedLog log;
    ASSERT_TRUE(legacy.hasSettings() && legacy.hasKeys());
    SettingsDefaults oldSettings(QString::fromStdString(legacy.settingsFile.string()));
    FileKeyStore oldKeys(legacy.keyFolder);
    migrateMergedApps(defaults, keys, {&oldSettings, &oldKeys});
    EXPECT_TRUE(defaults.boolValue("WLMergedApps"));
    auto hosts = *PairedDevice::decodeList(*defaults.data("WLPairedHosts"));
    ASSERT_EQ(hosts.size(), 2u);
    EXPECT_EQ(hosts[0].name, "Current name");
    EXPECT_EQ(hosts[1].id, "h2");
    auto messages = *StoredMessage::decodeList(*defaults.data("WLMessages"));
    std::vector<std::string> ids;
    for (auto& m : messages)
        ids.push_back(m.id);
    EXPECT_EQ(ids, (std::vector<std::string>{"m-old", "m-both", "m-new"}));
    std::string bytes;
    ASSERT_EQ(keys.read("device-signing", bytes), KeyStore::ReadStatus::found);
    EXPECT_EQ(bytes, std::string(32, 'x')); // the identity in use stays
    ASSERT_EQ(keys.read("mail-agreement", bytes), KeyStore::ReadStatus::found);
    EXPECT_EQ(bytes, std::string(32, 'm'));
    EXPECT_TRUE(log.contains("Wickerlane: brought over from the former helper program: 1 paired Macs"));

    // Once only.
    defaults.remove("WLPairedHosts");
    migrateMergedApps(defaults, keys, {&oldSettings, &oldKeys});
    EXPECT_FALSE(defaults.contains("WLPairedHosts"));
}

TEST(MigrateMergedAppsTest, NothingToImportStillSetsTheFlag)
{
    TempDir dir;
    MemoryDefaults defaults;
    MemoryKeyStore keys;
    CapturedLog log;
    LegacyHelperLocation none{dir.path() / "none.conf", dir.path() / "none"};
    EXPECT_FALSE(none.hasSettings() || none.hasKeys());
    migrateMergedApps(defaults, keys, {});
    EXPECT_TRUE(defaults.boolValue("WLMergedApps"));
    EXPECT_TRUE(log.contains("Wickerlane: no former helper program to bring over"));
}

} // namespace
} // namespace wl::test
