#pragma once
// A list of paired devices kept as JSON bytes under one key of the given settings.
//
// A record that can't be read is left out (with a log line naming its place and id), the
// others are kept. Before a save replaces stored bytes that could not all be read, they are
// copied to a key of their own beside the list, <key>UnreadableCopy (then …2, …3 when that
// one holds other bytes), so nothing a person paired is lost to a bad record.

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

    // The records that can be read; empty when absent or not a list at all.
    std::vector<PairedDevice> load() const;
    // Writes the JSON bytes (keeping a copy of stored bytes that could not all be read
    // first); if encoding fails the key is removed.
    void save(const std::vector<PairedDevice>& devices) const;

    // Where the first copy of unreadable bytes goes.
    std::string copyKey() const { return key + "UnreadableCopy"; }

private:
    void keepUnreadableBytes() const;
};

} // namespace wl
