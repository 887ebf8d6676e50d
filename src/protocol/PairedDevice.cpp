#include "protocol/PairedDevice.h"

#include "protocol/JsonFields.h"

namespace wl {

using jsonfields::put;

namespace {

std::optional<PairedDevice> readPairedDevice(const nlohmann::json& j, std::string* error)
{
    jsonfields::Reader r(j, error, "PairedDevice");
    PairedDevice d;
    r.string("id", d.id);
    r.string("name", d.name);
    r.string("publicKey", d.publicKey);
    r.number("pairedAt", d.pairedAt);
    r.record("unattended", d.unattended);
    r.string("person", d.person);
    if (!r.ok())
        return std::nullopt;
    return d;
}

} // namespace

nlohmann::json PairedDevice::toJson() const
{
    nlohmann::json j = nlohmann::json::object();
    j["id"] = id;
    j["name"] = name;
    j["publicKey"] = publicKey;
    j["pairedAt"] = pairedAt;
    jsonfields::putRecord(j, "unattended", unattended);
    put(j, "person", person);
    return j;
}

WL_JSON_RECORD_CODING(PairedDevice, readPairedDevice)

std::string PairedDevice::encodeList(const std::vector<PairedDevice>& devices)
{
    return jsonfields::dumpCompact(jsonfields::recordList(devices));
}

std::optional<std::vector<PairedDevice>> PairedDevice::decodeList(std::string_view text, std::string* error)
{
    auto j = jsonfields::parseText(text, error);
    if (!j)
        return std::nullopt;
    if (!j->is_array()) {
        if (error)
            *error = "the paired-device list is not a JSON array";
        return std::nullopt;
    }
    std::vector<PairedDevice> devices;
    devices.reserve(j->size());
    for (const auto& item : *j) {
        auto device = fromJson(item, error);
        if (!device)
            return std::nullopt;
        devices.push_back(std::move(*device));
    }
    return devices;
}

} // namespace wl
