#pragma once
// The program's information keys: compiled-in defaults, overridden by the setting of
// the same name (in the settings it is given), then by the environment variable of the
// same name. An empty environment variable or setting counts as set.

#include "platform/Defaults.h"
#include "platform/InfoDictionary.h"

#include <memory>

namespace wl {

class ProgramInfoDictionary final : public InfoDictionary {
public:
    static constexpr const char* kDefaultIntroductionURL = "http://127.0.0.1:8787/";

    explicit ProgramInfoDictionary(std::shared_ptr<const Defaults> settings);

    std::optional<std::string> value(const std::string& key) const override;

    // The compiled-in value, nullopt for a key the program does not define.
    static std::optional<std::string> builtIn(const std::string& key);

private:
    std::shared_ptr<const Defaults> settings_;
};

} // namespace wl
