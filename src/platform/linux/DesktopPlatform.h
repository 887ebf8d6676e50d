#pragma once
// Choices of the Linux desktop backends that need more than a constructor.

#include "platform/Defaults.h"
#include "platform/KeyStore.h"

#include <memory>
#include <string>

namespace wl {

inline constexpr const char* kApplicationID = "org.wickerlane.Wickerlane";
// The key store's service: "<application id>.identity".
std::string keyStoreService();

// The setting that records which store holds this installation's keys: "keyring"
// (the Secret Service) or "files" (0600 files in the data folder).
inline constexpr const char* kKeyStoreKey = "WLKeyStore";

// The key store of this installation. The first launch picks the Secret Service when a
// keyring answers, else the file store (an installation that already has key files
// keeps them), and records the choice in the settings. Later launches use the recorded
// store only: when it is the keyring and the keyring does not answer (locked, not
// running), the store can read nothing and stores nothing, so no new keys are ever
// made in place of the real ones; that is logged.
std::shared_ptr<KeyStore> makeDesktopKeyStore(Defaults& settings);
// The same, given whether a keyring answers (tests).
std::shared_ptr<KeyStore> makeDesktopKeyStore(Defaults& settings, bool keyringAnswers);

// A store that can read nothing and store nothing; every read fails.
class UnreadableKeyStore final : public KeyStore {
public:
    ReadStatus read(const std::string&, std::string&) override { return ReadStatus::failed; }
    bool write(const std::string&, const std::string&) override { return false; }
    bool remove(const std::string&) override { return false; }
};

} // namespace wl
