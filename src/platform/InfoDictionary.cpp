#include "platform/InfoDictionary.h"

#include <mutex>

namespace wl {

namespace {
std::mutex standardLock;
std::shared_ptr<InfoDictionary>& standardSlot()
{
    static std::shared_ptr<InfoDictionary> slot = std::make_shared<MapInfoDictionary>();
    return slot;
}
} // namespace

std::string InfoDictionary::string(const std::string& key) const
{
    return value(key).value_or(std::string());
}

InfoDictionary& InfoDictionary::standard()
{
    std::lock_guard guard(standardLock);
    return *standardSlot();
}

void InfoDictionary::setStandard(std::shared_ptr<InfoDictionary> dictionary)
{
    std::lock_guard guard(standardLock);
    standardSlot() = dictionary ? std::move(dictionary) : std::make_shared<MapInfoDictionary>();
}

std::optional<std::string> MapInfoDictionary::value(const std::string& key) const
{
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

} // namespace wl
