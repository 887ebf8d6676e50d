#include "protocol/ICEServer.h"

#include "protocol/JsonFields.h"

namespace wl {

using jsonfields::put;

namespace {

std::optional<ICEServer> readICEServer(const nlohmann::json& j, std::string* error)
{
    jsonfields::Reader r(j, error, "ICEServer");
    ICEServer s;
    r.strings("urls", s.urls);
    r.string("username", s.username);
    r.string("credential", s.credential);
    if (!r.ok())
        return std::nullopt;
    return s;
}

} // namespace

nlohmann::json ICEServer::toJson() const
{
    nlohmann::json j = nlohmann::json::object();
    j["urls"] = urls;
    put(j, "username", username);
    put(j, "credential", credential);
    return j;
}

WL_JSON_RECORD_CODING(ICEServer, readICEServer)

} // namespace wl
