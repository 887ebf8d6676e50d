#pragma once
// Shared checks of the fuzz targets: a decoded record encodes to text that decodes to
// the same record.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace wl::fuzz {

inline void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz check failed: %s\n", what);
        std::abort();
    }
}

template <class T>
void roundTrip(std::string_view text)
{
    std::string error;
    auto decoded = T::decode(text, &error);
    if (!decoded) {
        require(!error.empty(), "a rejected input has an error text");
        return;
    }
    const std::string encoded = decoded->encode();
    auto again = T::decode(encoded, &error);
    require(again.has_value(), "encoded text decodes");
    require(*again == *decoded, "encoded text decodes to the same record");
    require(again->encode() == encoded, "encoding is stable");
}

} // namespace wl::fuzz
