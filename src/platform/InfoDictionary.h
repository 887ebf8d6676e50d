#pragma once
// The program's information keys (WLIntroductionURL, SUFeedURL, SUPublicEDKey).
// The desktop backend answers from compiled-in defaults, overridden by the setting of
// the same name, then by the environment variable of the same name; start-up puts it
// into the platform record. Tests hand in a fixed map; the stand-in map has no keys.

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace wl {

class InfoDictionary {
public:
    virtual ~InfoDictionary() = default;

    // The value for a key; nullopt when the program has none.
    virtual std::optional<std::string> value(const std::string& key) const = 0;
    // The value, or "" when absent.
    std::string string(const std::string& key) const;
};

// A fixed set of keys; thread-safe to read. Used by tests and as a building block.
class MapInfoDictionary final : public InfoDictionary {
public:
    MapInfoDictionary() = default;
    explicit MapInfoDictionary(std::map<std::string, std::string> values) : values_(std::move(values)) { }
    std::optional<std::string> value(const std::string& key) const override;

private:
    std::map<std::string, std::string> values_;
};

namespace InfoKey {
inline constexpr const char* introductionURL = "WLIntroductionURL";
inline constexpr const char* feedURL = "SUFeedURL";
inline constexpr const char* publicEDKey = "SUPublicEDKey";
} // namespace InfoKey

} // namespace wl
