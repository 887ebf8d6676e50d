#pragma once
// The person using this computer, as the account database names them.

#include <string>

namespace wl {

// The user's full name (the first field of the account's comment), else the login
// name, else "Mac".
std::string userFullName();

} // namespace wl
