#include "protocol/Roster.h"

#include "protocol/JsonFields.h"

namespace wl {

namespace {

std::optional<RosterMac> readRosterMac(const nlohmann::json& j, std::string* error)
{
    jsonfields::Reader r(j, error, "RosterMac");
    RosterMac m;
    r.string("id", m.id);
    r.string("publicKey", m.publicKey);
    r.string("name", m.name);
    if (!r.ok())
        return std::nullopt;
    return m;
}

std::optional<MyMacsRoster> readMyMacsRoster(const nlohmann::json& j, std::string* error)
{
    jsonfields::Reader r(j, error, "MyMacsRoster");
    MyMacsRoster roster;
    r.string("person", roster.person);
    r.integer("version", roster.version);
    r.records("macs", roster.macs);
    if (!r.ok())
        return std::nullopt;
    return roster;
}

std::optional<SignedRoster> readSignedRoster(const nlohmann::json& j, std::string* error)
{
    jsonfields::Reader r(j, error, "SignedRoster");
    SignedRoster s;
    r.string("roster", s.roster);
    r.string("signature", s.signature);
    if (!r.ok())
        return std::nullopt;
    return s;
}

} // namespace

nlohmann::json RosterMac::toJson() const
{
    nlohmann::json j = nlohmann::json::object();
    j["id"] = id;
    j["publicKey"] = publicKey;
    j["name"] = name;
    return j;
}

WL_JSON_RECORD_CODING(RosterMac, readRosterMac)

nlohmann::json MyMacsRoster::toJson() const
{
    nlohmann::json j = nlohmann::json::object();
    j["person"] = person;
    j["version"] = version;
    j["macs"] = jsonfields::recordList(macs);
    return j;
}

WL_JSON_RECORD_CODING(MyMacsRoster, readMyMacsRoster)

SignedRoster SignedRoster::sign(const MyMacsRoster& roster, const SigningKey& personKey)
{
    SignedRoster s;
    s.roster = roster.encode();
    s.signature = personKey.sign(kRosterSignatureTag + s.roster);
    return s;
}

std::optional<MyMacsRoster> SignedRoster::verified() const
{
    auto decoded = MyMacsRoster::decode(roster);
    if (!decoded)
        return std::nullopt;
    if (!verifySignature(signature, kRosterSignatureTag + roster, decoded->person))
        return std::nullopt;
    return decoded;
}

nlohmann::json SignedRoster::toJson() const
{
    nlohmann::json j = nlohmann::json::object();
    j["roster"] = roster;
    j["signature"] = signature;
    return j;
}

WL_JSON_RECORD_CODING(SignedRoster, readSignedRoster)

} // namespace wl
