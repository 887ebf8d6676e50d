#include "platform/InfoDictionary.h"

#include <mutex>

namespace wl {

std::string InfoDictionary::string(const std::string& key) const
{
    return value(key).value_or(std::string());
}

std::optional<std::string> MapInfoDictionary::value(const std::string& key) const
{
    auto it = values_.find(key);
    if (it == values_.end())
        return std::nullopt;
    return it->second;
}

} // namespace wl
