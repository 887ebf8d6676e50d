#include "protocol/UnattendedGrant.h"

#include "protocol/JsonFields.h"

namespace wl {

using jsonfields::put;

namespace {

std::optional<UnattendedGrant> readUnattendedGrant(const nlohmann::json& j, std::string* error)
{
    jsonfields::Reader r(j, error, "UnattendedGrant");
    UnattendedGrant g;
    r.number("enabledAt", g.enabledAt);
    r.string("pinKey", g.pinKey);
    r.string("pinSalt", g.pinSalt);
    // Older records may lack the count: none wrong yet.
    std::optional<int> failed;
    r.integer("failedAttempts", failed);
    if (failed)
        g.failedAttempts = *failed;
    if (r.ok() && g.failedAttempts < 0)
        r.fail("failedAttempts", "is negative");
    if (!r.ok())
        return std::nullopt;
    return g;
}

} // namespace

nlohmann::json UnattendedGrant::toJson() const
{
    nlohmann::json j = nlohmann::json::object();
    j["enabledAt"] = enabledAt;
    put(j, "pinKey", pinKey);
    put(j, "pinSalt", pinSalt);
    j["failedAttempts"] = failedAttempts;
    return j;
}

WL_JSON_RECORD_CODING(UnattendedGrant, readUnattendedGrant)

} // namespace wl
