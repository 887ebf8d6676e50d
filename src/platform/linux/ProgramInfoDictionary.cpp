#include "platform/linux/ProgramInfoDictionary.h"

#include "platform/Defaults.h"

#include <cstdlib>

namespace wl {

ProgramInfoDictionary::ProgramInfoDictionary(std::shared_ptr<const Defaults> settings) : settings_(std::move(settings))
{
}

std::optional<std::string> ProgramInfoDictionary::builtIn(const std::string& key)
{
    if (key == InfoKey::introductionURL)
        return std::string(kDefaultIntroductionURL);
    if (key == InfoKey::feedURL || key == InfoKey::publicEDKey)
        return std::string();
    return std::nullopt;
}

std::optional<std::string> ProgramInfoDictionary::value(const std::string& key) const
{
    if (key.empty())
        return std::nullopt;
    if (const char* env = std::getenv(key.c_str()))
        return std::string(env);
    if (auto setting = settings_->string(key))
        return setting;
    return builtIn(key);
}

} // namespace wl
