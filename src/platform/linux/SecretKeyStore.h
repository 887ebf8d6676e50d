#pragma once
// Keys in the desktop keyring through the Secret Service (libsecret). Each item is
// stored under the attributes service = "<application id>.identity" and item = its
// name, the bytes as base64 text.

#include "platform/KeyStore.h"

#include <mutex>
#include <string>

namespace wl {

class SecretKeyStore final : public KeyStore {
public:
    explicit SecretKeyStore(std::string service);

    // True when a Secret Service keyring answers on this session bus with an unlocked
    // default collection (so storing a key never waits on a prompt).
    static bool keyringAnswers();

    ReadStatus read(const std::string& item, std::string& bytes) override;
    bool write(const std::string& item, const std::string& bytes) override;
    bool remove(const std::string& item) override;

private:
    std::mutex lock_;
    std::string service_;
};

} // namespace wl
