#pragma once
// A list of paired devices kept as JSON bytes under one Defaults key.

#include "protocol/PairedDevice.h"

#include <string>
#include <vector>

namespace wl {

struct PairedDeviceStore {
    std::string key;

    // Empty when absent or undecodable.
    std::vector<PairedDevice> load() const;
    // Writes the JSON bytes; if encoding fails the key is removed.
    void save(const std::vector<PairedDevice>& devices) const;
};

} // namespace wl
