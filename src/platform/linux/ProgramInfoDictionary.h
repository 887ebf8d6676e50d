#pragma once
// The program's information keys: compiled-in defaults, overridden by the setting of
// the same name (Defaults::standard()), then by the environment variable of the same
// name. An empty environment variable or setting counts as set.

#include "platform/InfoDictionary.h"

namespace wl {

class ProgramInfoDictionary final : public InfoDictionary {
public:
    static constexpr const char* kDefaultIntroductionURL = "http://127.0.0.1:8787/";

    std::optional<std::string> value(const std::string& key) const override;

    // The compiled-in value, nullopt for a key the program does not define.
    static std::optional<std::string> builtIn(const std::string& key);
};

} // namespace wl
