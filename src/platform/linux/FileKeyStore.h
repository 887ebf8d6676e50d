#pragma once
// Keys kept as files of mode 0600 in a folder of mode 0700 (by default
// $XDG_DATA_HOME/Wickerlane/identity/). The fallback when no Secret Service
// keyring answers. Item names are limited to letters, digits, '.', '-' and '_'.

#include "platform/KeyStore.h"

#include <filesystem>
#include <mutex>

namespace wl {

class FileKeyStore final : public KeyStore {
public:
    explicit FileKeyStore(std::filesystem::path folder);
    // The program's own folder: $XDG_DATA_HOME/Wickerlane/identity (~/.local/share/…).
    static std::filesystem::path defaultFolder();

    ReadStatus read(const std::string& item, std::string& bytes) override;
    bool write(const std::string& item, const std::string& bytes) override;
    bool remove(const std::string& item) override;

    const std::filesystem::path& folder() const { return folder_; }

private:
    std::mutex lock_;
    std::filesystem::path folder_;
};

} // namespace wl
