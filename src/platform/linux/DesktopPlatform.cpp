#include "platform/linux/DesktopPlatform.h"

#include "platform/Log.h"
#include "platform/linux/FileKeyStore.h"
#include "platform/linux/SecretKeyStore.h"

#include <filesystem>

namespace wl {

namespace {
constexpr const char* kKeyring = "keyring";
constexpr const char* kFiles = "files";

// Whether the key folder holds anything (an installation from before the choice was
// recorded that kept its keys in files).
bool hasKeyFiles(const std::filesystem::path& folder)
{
    std::error_code error;
    return std::filesystem::is_directory(folder, error) &&
        std::filesystem::directory_iterator(folder, error) != std::filesystem::directory_iterator();
}
} // namespace

std::string keyStoreService()
{
    return std::string(kApplicationID) + ".identity";
}

std::shared_ptr<KeyStore> makeDesktopKeyStore(Defaults& settings)
{
    return makeDesktopKeyStore(settings, SecretKeyStore::keyringAnswers());
}

std::shared_ptr<KeyStore> makeDesktopKeyStore(Defaults& settings, bool keyringAnswers)
{
    const auto folder = FileKeyStore::defaultFolder();
    std::string recorded = settings.string(kKeyStoreKey).value_or("");
    if (recorded != kKeyring && recorded != kFiles) {
        recorded = !hasKeyFiles(folder) && keyringAnswers ? kKeyring : kFiles;
        settings.setString(kKeyStoreKey, recorded);
        settings.sync();
        Log::line(recorded == kKeyring ? std::string("Wickerlane: this Mac's keys are kept in the desktop keyring")
                                       : "Wickerlane: this Mac's keys are kept in " + folder.string());
    }
    if (recorded == kFiles)
        return std::make_shared<FileKeyStore>(folder);
    if (keyringAnswers)
        return std::make_shared<SecretKeyStore>(keyStoreService());
    Log::line("Wickerlane: this Mac's keys are in the desktop keyring, which is locked or not running; "
              "they can't be read");
    return std::make_shared<UnreadableKeyStore>();
}

} // namespace wl
