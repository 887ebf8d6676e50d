#pragma once
// Once per installation, brings over what a former separate helper program left behind:
// its paired Macs, message history, active help request and keys. On Linux there never
// was such a program; an older installation may still have left a settings file and key
// folder under the name "Wickerlane Helper", and those are imported when present. The
// flag WLMergedApps is set in every case; the outcome is logged; nothing here stops
// start-up.

#include "platform/Defaults.h"
#include "platform/KeyStore.h"

#include <filesystem>

namespace wl {

// Where the former program kept its things.
struct LegacyHelperLocation {
    std::filesystem::path settingsFile; // its settings file
    std::filesystem::path keyFolder; // its key files

    // $XDG_CONFIG_HOME/Wickerlane Helper/Wickerlane Helper.conf and
    // $XDG_DATA_HOME/Wickerlane Helper/identity.
    static LegacyHelperLocation fromEnvironment();
    bool hasSettings() const;
    bool hasKeys() const;
};

// The former program's settings and keys as start-up opened them; null when absent.
struct LegacyHelperStores {
    Defaults* settings = nullptr;
    KeyStore* keys = nullptr;
};

inline constexpr const char* kMergedAppsKey = "WLMergedApps";

// Returns how many keys it brought over: whoever holds this installation's keys in
// memory reads them again then.
int migrateMergedApps(Defaults& defaults, KeyStore& keys, const LegacyHelperStores& legacy);

} // namespace wl
