#include "media/MediaSettings.h"

#include "platform/Defaults.h"

namespace wl {

MediaSettings MediaSettings::read(const Defaults& defaults)
{
    MediaSettings settings;
    settings.h265 = !defaults.boolValue("WLDisableH265");
    settings.tenBit = !defaults.boolValue("WLDisable10Bit");
    settings.maxWidth = defaults.number("WLMaxWidth").value_or(0);
    return settings;
}

} // namespace wl
