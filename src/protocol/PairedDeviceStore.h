#pragma once
// A list of paired devices kept as JSON bytes under one key of the given settings.

#include "platform/Defaults.h"
#include "protocol/PairedDevice.h"

#include <string>
#include <utility>
#include <vector>

namespace wl {

struct PairedDeviceStore {
    PairedDeviceStore(Defaults& defaults, std::string key) : defaults(defaults), key(std::move(key)) { }

    Defaults& defaults;
    std::string key;

    // Empty when absent or undecodable.
    std::vector<PairedDevice> load() const;
    // Writes the JSON bytes; if encoding fails the key is removed.
    void save(const std::vector<PairedDevice>& devices) const;
};

} // namespace wl
