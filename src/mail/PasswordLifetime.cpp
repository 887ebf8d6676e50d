#include "mail/PasswordLifetime.h"

namespace wl {

std::string rawValue(PasswordLifetime lifetime)
{
    switch (lifetime) {
    case PasswordLifetime::once: return "once";
    case PasswordLifetime::fifteenMinutes: return "fifteenMinutes";
    case PasswordLifetime::oneHour: return "oneHour";
    }
    return "once";
}

std::optional<PasswordLifetime> passwordLifetimeFromRaw(std::string_view raw)
{
    for (auto lifetime : kAllPasswordLifetimes)
        if (rawValue(lifetime) == raw)
            return lifetime;
    return std::nullopt;
}

std::string title(PasswordLifetime lifetime)
{
    switch (lifetime) {
    case PasswordLifetime::once: return "Once";
    case PasswordLifetime::fifteenMinutes: return "15 min";
    case PasswordLifetime::oneHour: return "1 hour";
    }
    return "Once";
}

std::string explanation(PasswordLifetime lifetime)
{
    switch (lifetime) {
    case PasswordLifetime::once: return "Works once, then it's gone. Expires in 15 minutes if it isn't opened.";
    case PasswordLifetime::fifteenMinutes: return "Can be copied as often as needed for 15 minutes.";
    case PasswordLifetime::oneHour: return "Can be copied as often as needed for an hour.";
    }
    return {};
}

double interval(PasswordLifetime lifetime)
{
    return lifetime == PasswordLifetime::oneHour ? 3600.0 : 900.0;
}

} // namespace wl
