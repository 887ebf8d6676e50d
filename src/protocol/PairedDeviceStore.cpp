#include "protocol/PairedDeviceStore.h"

#include "platform/Defaults.h"
#include "platform/Log.h"

namespace wl {

std::vector<PairedDevice> PairedDeviceStore::load() const
{
    auto bytes = defaults.data(key);
    if (!bytes)
        return {};
    std::string error;
    auto devices = PairedDevice::decodeList(*bytes, &error);
    if (!devices) {
        Log::line("Wickerlane: the paired devices under " + key + " could not be read: " + error);
        return {};
    }
    return *devices;
}

void PairedDeviceStore::save(const std::vector<PairedDevice>& devices) const
{
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
