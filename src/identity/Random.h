#pragma once
// Secure random bytes and identifiers.

#include <cstddef>
#include <string>

namespace wl {

std::string randomBytes(std::size_t count);
// Lower-case random (version 4) UUID text.
std::string newUUID();

} // namespace wl
