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

struct LegacyHelperLocation {
    std::filesystem::path settingsFile; // a QSettings INI file
    std::filesystem::path keyFolder; // key files as FileKeyStore keeps them

    // $XDG_CONFIG_HOME/Wickerlane Helper/Wickerlane Helper.conf and
    // $XDG_DATA_HOME/Wickerlane Helper/identity.
    static LegacyHelperLocation standard();
};

inline constexpr const char* kMergedAppsKey = "WLMergedApps";

void migrateMergedApps();
void migrateMergedApps(Defaults& defaults, KeyStore& keys, const LegacyHelperLocation& legacy);

} // namespace wl
