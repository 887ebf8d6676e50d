#pragma once
// Installs the desktop backends as the process-wide platform services: settings
// (SettingsDefaults), keys (Secret Service when a keyring answers, else 0600 files),
// log lines through Qt, prompts through Qt Widgets, displays from XRandR and the
// program's information keys. Start-up calls it once, after the QApplication exists.

#include "platform/KeyStore.h"

#include <memory>
#include <string>

namespace wl {

inline constexpr const char* kApplicationID = "org.wickerlane.Wickerlane";
// The key store's service: "<application id>.identity".
std::string keyStoreService();

// The Secret Service store when a keyring answers, else the file store.
std::shared_ptr<KeyStore> makeDesktopKeyStore();

void installDesktopPlatform();

} // namespace wl
