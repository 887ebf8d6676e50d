#pragma once
// Standard base64 with padding. Decoding is strict: only the standard alphabet,
// correct padding, no white space and zero pad bits (one text per byte string).

#include <optional>
#include <string>
#include <string_view>

namespace wl {

std::string base64Encode(std::string_view bytes);
std::optional<std::string> base64Decode(std::string_view text);

} // namespace wl
