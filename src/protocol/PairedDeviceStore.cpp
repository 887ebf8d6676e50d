#include "protocol/PairedDeviceStore.h"

#include "platform/Defaults.h"
#include "platform/Log.h"
#include "protocol/JsonFields.h"

#include <optional>

namespace wl {

namespace {

struct Reading {
    std::vector<PairedDevice> devices;
    bool whole = true; // every record was read
};

// The id of a record that could not be read, for the log: a short string or nothing.
std::string idOf(const nlohmann::json& item)
{
    if (!item.is_object())
        return {};
    auto id = item.find("id");
    if (id == item.end() || !id->is_string())
        return {};
    std::string text = id->get<std::string>();
    if (text.size() > 64)
        text = text.substr(0, 64) + "\u2026";
    return " (id " + text + ")";
}

// The records of the bytes under key; a log line for each that can't be read when say.
Reading readRecords(const std::string& key, std::string_view bytes, bool say)
{
    Reading reading;
    std::string error;
    auto list = jsonfields::parseText(bytes, &error);
    if (list && !list->is_array())
        error = "the paired-device list is not a JSON array";
    if (!list || !list->is_array()) {
        reading.whole = false;
        if (say)
            Log::line("Wickerlane: the paired devices under " + key + " could not be read: " + error);
        return reading;
    }
    reading.devices.reserve(list->size());
    for (std::size_t index = 0; index < list->size(); ++index) {
        const auto& item = (*list)[index];
        if (auto device = PairedDevice::fromJson(item, &error)) {
            reading.devices.push_back(std::move(*device));
            continue;
        }
        reading.whole = false;
        if (say)
            Log::line("Wickerlane: paired device " + std::to_string(index) + idOf(item) + " under " + key +
                      " could not be read and is left out: " + error);
    }
    return reading;
}

} // namespace

std::vector<PairedDevice> PairedDeviceStore::load() const
{
    auto bytes = defaults.data(key);
    if (!bytes)
        return {};
    return readRecords(key, *bytes, true).devices;
}

void PairedDeviceStore::keepUnreadableBytes() const
{
    auto bytes = defaults.data(key);
    if (!bytes || bytes->empty() || readRecords(key, *bytes, false).whole)
        return;
    for (int copy = 1;; ++copy) {
        const std::string name = copyKey() + (copy > 1 ? std::to_string(copy) : "");
        if (!defaults.contains(name)) {
            defaults.setData(name, *bytes);
            Log::line("Wickerlane: the paired devices under " + key +
                      " that could not all be read are kept as they were under " + name);
            return;
        }
        if (defaults.data(name) == bytes)
            return;
    }
}

void PairedDeviceStore::save(const std::vector<PairedDevice>& devices) const
{
    keepUnreadableBytes();
    std::string bytes;
    try {
        bytes = PairedDevice::encodeList(devices);
    } catch (...) {
        bytes.clear();
    }
    if (bytes.empty()) {
        Log::line("Wickerlane: the paired devices under " + key + " could not be encoded; removing them.");
        defaults.remove(key);
        return;
    }
    defaults.setData(key, bytes);
}

} // namespace wl
