#include "host/OpenAtLogin.h"

#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/SystemServices.h"

namespace wl {

void setOpensAtLogin(LoginItem& item, Defaults& defaults, bool on)
{
    const std::string path = item.programPath();
    std::string error;
    if (!item.setEnabled(on, path, error)) {
        Log::line("Wickerlane: could not change Open at Login: " + error);
        return;
    }
    if (on)
        defaults.setString(kLoginItemPathKey, path);
    else
        defaults.remove(kLoginItemPathKey);
}

void refreshLoginItem(LoginItem& item, Defaults& defaults)
{
    if (!item.isEnabled())
        return;
    const std::string path = item.programPath();
    if (defaults.string(kLoginItemPathKey) == path)
        return;
    Log::line("Wickerlane: Open at Login now opens " + path);
    std::string ignored;
    item.setEnabled(false, path, ignored);
    setOpensAtLogin(item, defaults, true);
}

bool opensAtLogin(LoginItem& item)
{
    return item.isEnabled();
}

} // namespace wl
