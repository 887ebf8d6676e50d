#include "mail/MigrateMergedApps.h"

#include "identity/DeviceIdentity.h"
#include "mail/Messenger.h"
#include "mail/StoredMessage.h"
#include "platform/Log.h"
#include "protocol/PairedDevice.h"
#include "protocol/PairedDeviceStore.h"

#include <cstdlib>
#include <set>
#include <system_error>

namespace wl {

namespace {

std::filesystem::path xdgFolder(const char* variable, const char* fallback)
{
    if (const char* value = std::getenv(variable); value && *value == '/')
        return value;
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::filesystem::path(home) / fallback;
    return std::filesystem::temp_directory_path();
}

// Paired devices of both lists by id, the current installation's entry first.
int mergeDevices(Defaults& target, Defaults& legacy, const std::string& key)
{
    if (!legacy.contains(key))
        return 0;
    // Records that can't be read are left out of both; the target's bytes are kept aside
    // before they are replaced (PairedDeviceStore).
    const auto imported = PairedDeviceStore(legacy, key).load();
    const PairedDeviceStore store(target, key);
    std::vector<PairedDevice> current = store.load();
    std::set<std::string> ids;
    for (auto& device : current)
        ids.insert(device.id);
    int added = 0;
    for (auto& device : imported)
        if (ids.insert(device.id).second) {
            current.push_back(device);
            ++added;
        }
    if (added)
        store.save(current);
    return added;
}

// The former program's messages go before this one's (they are older); newest 200 kept.
int mergeMessages(Defaults& target, Defaults& legacy, const std::string& key)
{
    auto legacyBytes = legacy.data(key);
    auto imported = legacyBytes ? StoredMessage::decodeList(*legacyBytes) : std::nullopt;
    if (!imported || imported->empty())
        return 0;
    std::vector<StoredMessage> current;
    if (auto bytes = target.data(key))
        current = StoredMessage::decodeList(*bytes).value_or(std::vector<StoredMessage>{});
    std::set<std::string> ids;
    for (auto& message : current)
        ids.insert(message.id);
    std::vector<StoredMessage> merged;
    for (auto& message : *imported)
        if (ids.insert(message.id).second)
            merged.push_back(message);
    int added = static_cast<int>(merged.size());
    if (!added)
        return 0;
    merged.insert(merged.end(), current.begin(), current.end());
    if (merged.size() > Messenger::kHistoryLimit)
        merged.erase(merged.begin(), merged.end() - Messenger::kHistoryLimit);
    target.setData(key, StoredMessage::encodeList(merged));
    return added;
}

} // namespace

LegacyHelperLocation LegacyHelperLocation::fromEnvironment()
{
    auto config = xdgFolder("XDG_CONFIG_HOME", ".config");
    auto data = xdgFolder("XDG_DATA_HOME", ".local/share");
    return {config / "Wickerlane Helper" / "Wickerlane Helper.conf", data / "Wickerlane Helper" / "identity"};
}

bool LegacyHelperLocation::hasSettings() const
{
    std::error_code error;
    return std::filesystem::is_regular_file(settingsFile, error);
}

bool LegacyHelperLocation::hasKeys() const
{
    std::error_code error;
    return std::filesystem::is_directory(keyFolder, error);
}

int migrateMergedApps(Defaults& defaults, KeyStore& keys, const LegacyHelperStores& legacy)
{
    if (defaults.boolValue(kMergedAppsKey))
        return 0;
    bool haveSettings = legacy.settings != nullptr;
    bool haveKeys = legacy.keys != nullptr;
    if (!haveSettings && !haveKeys) {
        defaults.setBool(kMergedAppsKey, true);
        Log::line("Wickerlane: no former helper program to bring over");
        return 0;
    }

    int hosts = 0, helpers = 0, messages = 0, keyCount = 0;
    bool request = false;
    if (haveSettings) {
        Defaults& old = *legacy.settings;
        hosts = mergeDevices(defaults, old, "WLPairedHosts");
        helpers = mergeDevices(defaults, old, "WLPairedHelpers");
        messages = mergeMessages(defaults, old, "WLMessages");
        if (!defaults.contains("WLActiveHelpRequest"))
            if (auto bytes = old.data("WLActiveHelpRequest")) {
                defaults.setData("WLActiveHelpRequest", *bytes);
                request = true;
            }
    }
    if (haveKeys) {
        // Keys only where this installation has none yet: an identity in use is never replaced.
        KeyStore& old = *legacy.keys;
        for (const char* item : {kDeviceSigningItem, kPersonSigningItem, kMailAgreementItem}) {
            std::string bytes, existing;
            if (old.read(item, bytes) != KeyStore::ReadStatus::found || bytes.size() != 32)
                continue;
            if (keys.read(item, existing) != KeyStore::ReadStatus::notFound)
                continue;
            if (keys.write(item, bytes))
                ++keyCount;
            else
                Log::line(std::string("Wickerlane: couldn't bring over the key ") + item);
        }
    }
    defaults.setBool(kMergedAppsKey, true);
    Log::line("Wickerlane: brought over from the former helper program: " + std::to_string(hosts) + " paired Macs, " +
              std::to_string(helpers) + " paired helpers, " + std::to_string(messages) + " messages, " +
              std::to_string(keyCount) + " keys" + (request ? ", the active help request" : ""));
    return keyCount;
}

} // namespace wl
