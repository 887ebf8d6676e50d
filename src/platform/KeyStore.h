#pragma once
// Secret key storage (the keyring stand-in). Items are raw bytes named within one
// service, "<application id>.identity". The desktop backend uses the Secret Service
// where a keyring answers, else 0600 files; tests use MemoryKeyStore.

#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace wl {

class KeyStore {
public:
    enum class ReadStatus { found, notFound, failed };

    virtual ~KeyStore() = default;
    virtual ReadStatus read(const std::string& item, std::string& bytes) = 0;
    // false when the item could not be stored.
    virtual bool write(const std::string& item, const std::string& bytes) = 0;
    virtual bool remove(const std::string& item) = 0;
};

class MemoryKeyStore final : public KeyStore {
public:
    ReadStatus read(const std::string& item, std::string& bytes) override;
    bool write(const std::string& item, const std::string& bytes) override;
    bool remove(const std::string& item) override;

    // Test switches: make reads or writes fail.
    void setFailReads(bool fail);
    void setFailWrites(bool fail);

private:
    std::mutex lock_;
    std::map<std::string, std::string> items_;
    bool failReads_ = false;
    bool failWrites_ = false;
};

} // namespace wl
