#include "platform/KeyStore.h"

namespace wl {

KeyStore::ReadStatus MemoryKeyStore::read(const std::string& item, std::string& bytes)
{
    std::lock_guard guard(lock_);
    if (failReads_)
        return ReadStatus::failed;
    auto it = items_.find(item);
    if (it == items_.end())
        return ReadStatus::notFound;
    bytes = it->second;
    return ReadStatus::found;
}

bool MemoryKeyStore::write(const std::string& item, const std::string& bytes)
{
    std::lock_guard guard(lock_);
    if (failWrites_)
        return false;
    items_[item] = bytes;
    return true;
}

bool MemoryKeyStore::remove(const std::string& item)
{
    std::lock_guard guard(lock_);
    items_.erase(item);
    return true;
}

void MemoryKeyStore::setFailReads(bool fail)
{
    std::lock_guard guard(lock_);
    failReads_ = fail;
}

void MemoryKeyStore::setFailWrites(bool fail)
{
    std::lock_guard guard(lock_);
    failWrites_ = fail;
}

} // namespace wl
