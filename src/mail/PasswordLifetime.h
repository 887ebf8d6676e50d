#pragma once
// How long a sent password works. The raw value ("once", "fifteenMinutes", "oneHour")
// travels as the password's `lifetime`.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace wl {

enum class PasswordLifetime { once, fifteenMinutes, oneHour };

inline constexpr std::array<PasswordLifetime, 3> kAllPasswordLifetimes = {
    PasswordLifetime::once, PasswordLifetime::fifteenMinutes, PasswordLifetime::oneHour};

std::string rawValue(PasswordLifetime lifetime);
std::optional<PasswordLifetime> passwordLifetimeFromRaw(std::string_view raw);
// "Once", "15 min", "1 hour".
std::string title(PasswordLifetime lifetime);
// The explanation shown under the picker.
std::string explanation(PasswordLifetime lifetime);
// Seconds added to the sending time for `expiresAt`: 3600 for an hour, else 900.
double interval(PasswordLifetime lifetime);

} // namespace wl
