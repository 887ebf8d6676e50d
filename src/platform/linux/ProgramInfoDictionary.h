#pragma once
// The program's information keys: compiled-in defaults, overridden by the setting of
// the same name (in the settings it is given), then by the environment variable of the
// same name. An empty environment variable or setting counts as set.
//
// The introduction service's address is the one value the program cannot do without,
// and its default lives here only: an empty one gives the default, and one that is not
// an absolute http or https URL with a host is logged (once for each such value) and
// gives the default too, so that the parts always have an address they can use.

#include "platform/Defaults.h"
#include "platform/InfoDictionary.h"

#include <memory>
#include <mutex>
#include <string>

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
    mutable std::mutex lock_;
    mutable std::string loggedUnusable_; // the unusable introduction URL last logged
};

} // namespace wl
