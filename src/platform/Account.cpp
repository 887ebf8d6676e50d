#include "platform/Account.h"

#include <pwd.h>
#include <unistd.h>

namespace wl {

std::string userFullName()
{
    if (const passwd* entry = getpwuid(getuid())) {
        std::string gecos = entry->pw_gecos ? entry->pw_gecos : "";
        std::string full = gecos.substr(0, gecos.find(','));
        if (!full.empty())
            return full;
        if (entry->pw_name && *entry->pw_name)
            return entry->pw_name;
    }
    return "Mac";
}

} // namespace wl
