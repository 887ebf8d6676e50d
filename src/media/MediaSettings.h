#pragma once
// The media settings, read once on the main thread from the user's settings and handed
// down as a value: the library's threads and the capture thread never read settings.

namespace wl {

class Defaults;

struct MediaSettings {
    bool h265 = true; // not WLDisableH265
    bool tenBit = true; // not WLDisable10Bit
    double maxWidth = 0; // WLMaxWidth: the widest picture sent (0: as wide as the display)

    static MediaSettings read(const Defaults& defaults);
};

} // namespace wl
