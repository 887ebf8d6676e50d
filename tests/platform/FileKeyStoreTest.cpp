#include "platform/linux/DesktopPlatform.h"
#include "platform/linux/FileKeyStore.h"
#include "platform/linux/SecretKeyStore.h"

#include "TestDirs.h"
#include "platform/Log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sys/stat.h>

using namespace wl;

namespace {
mode_t modeOf(const std::filesystem::path& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}
} // namespace

TEST(FileKeyStore, StoresKeysInOwnerOnlyFiles)
{
    test::TempDir dir;
    FileKeyStore store(dir.path() / "Wickerlane" / "identity");
    std::string key("\x00\x01\x02secret\xff", 10);
    std::string read;
    EXPECT_EQ(store.read("device-signing", read), KeyStore::ReadStatus::notFound);

    ASSERT_TRUE(store.write("device-signing", key));
    EXPECT_EQ(modeOf(store.folder() / "device-signing"), 0600u);
    EXPECT_EQ(modeOf(store.folder()), 0700u);
    ASSERT_EQ(store.read("device-signing", read), KeyStore::ReadStatus::found);
    EXPECT_EQ(read, key);

    // Replacing keeps the mode and leaves no temporary file.
    ASSERT_TRUE(store.write("device-signing", "other"));
    EXPECT_EQ(modeOf(store.folder() / "device-signing"), 0600u);
    ASSERT_EQ(store.read("device-signing", read), KeyStore::ReadStatus::found);
    EXPECT_EQ(read, "other");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(store.folder()), {}), 1);

    EXPECT_TRUE(store.remove("device-signing"));
    EXPECT_EQ(store.read("device-signing", read), KeyStore::ReadStatus::notFound);
    EXPECT_TRUE(store.remove("device-signing"));
}

TEST(FileKeyStore, UnreadableItemsAndBadNamesFail)
{
    test::TempDir dir;
    FileKeyStore store(dir.path());
    // A folder where the key file should be cannot be read (even by root).
    std::filesystem::create_directory(dir.path() / "mail-agreement");
    std::string read = "untouched";
    EXPECT_EQ(store.read("mail-agreement", read), KeyStore::ReadStatus::failed);
    EXPECT_EQ(read, "untouched");

    EXPECT_EQ(store.read("../escape", read), KeyStore::ReadStatus::failed);
    EXPECT_FALSE(store.write("../escape", "x"));
    EXPECT_FALSE(store.write("", "x"));
    EXPECT_FALSE(std::filesystem::exists(dir.path().parent_path() / "escape"));
}

TEST(FileKeyStore, WriteFailsWhenTheFolderCannotBeMade)
{
    test::TempDir dir;
    std::filesystem::path blocker = dir.path() / "file";
    {
        std::ofstream(blocker) << "x";
    }
    FileKeyStore store(blocker / "identity");
    EXPECT_FALSE(store.write("device-signing", "key"));
}

TEST(DesktopKeyStore, ServiceNameAndFallbackFolder)
{
    EXPECT_EQ(keyStoreService(), "org.wickerlane.Wickerlane.identity");
    const char* old = std::getenv("XDG_DATA_HOME");
    std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", "/tmp/wl-data-home", 1);
    EXPECT_EQ(FileKeyStore::defaultFolder(), std::filesystem::path("/tmp/wl-data-home/Wickerlane/identity"));
    if (old)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}

// The store is chosen once per installation and recorded; a later launch never falls
// back to another store (which would make new keys and break every pairing).
TEST(DesktopKeyStore, TheChoiceIsRecordedAndAnUnreadableKeyringMakesNoNewKeys)
{
    test::TempDir home;
    const char* old = std::getenv("XDG_DATA_HOME");
    std::string saved = old ? old : "";
    setenv("XDG_DATA_HOME", home.str().c_str(), 1);
    const auto folder = FileKeyStore::defaultFolder();

    // First launch with a keyring: the keyring, recorded.
    MemoryDefaults withKeyring;
    EXPECT_NE(dynamic_cast<SecretKeyStore*>(makeDesktopKeyStore(withKeyring, true).get()), nullptr);
    EXPECT_EQ(withKeyring.string(kKeyStoreKey), "keyring");

    // A later launch whose keyring is locked or gone: nothing can be read or stored,
    // and no key file appears.
    {
        CapturedLog log;
        auto store = makeDesktopKeyStore(withKeyring, false);
        ASSERT_NE(dynamic_cast<UnreadableKeyStore*>(store.get()), nullptr);
        std::string bytes;
        EXPECT_EQ(store->read("device-signing", bytes), KeyStore::ReadStatus::failed);
        EXPECT_FALSE(store->write("device-signing", std::string(32, 'k')));
        EXPECT_TRUE(log.contains("locked or not running"));
    }
    EXPECT_FALSE(std::filesystem::exists(folder / "device-signing"));
    EXPECT_EQ(withKeyring.string(kKeyStoreKey), "keyring");

    // First launch without a keyring: files, recorded; a keyring that shows up later
    // does not take over.
    MemoryDefaults withoutKeyring;
    EXPECT_NE(dynamic_cast<FileKeyStore*>(makeDesktopKeyStore(withoutKeyring, false).get()), nullptr);
    EXPECT_EQ(withoutKeyring.string(kKeyStoreKey), "files");
    EXPECT_NE(dynamic_cast<FileKeyStore*>(makeDesktopKeyStore(withoutKeyring, true).get()), nullptr);

    // An installation from before the choice was recorded that has key files keeps them.
    ASSERT_TRUE(FileKeyStore(folder).write("device-signing", std::string(32, 'd')));
    MemoryDefaults older;
    EXPECT_NE(dynamic_cast<FileKeyStore*>(makeDesktopKeyStore(older, true).get()), nullptr);
    EXPECT_EQ(older.string(kKeyStoreKey), "files");

    if (old)
        setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_DATA_HOME");
}
