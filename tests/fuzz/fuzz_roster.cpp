#include "FuzzCheck.h"
#include "protocol/Roster.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    wl::fuzz::roundTrip<wl::SignedRoster>(text);
    wl::fuzz::roundTrip<wl::MyMacsRoster>(text);
    if (auto signedRoster = wl::SignedRoster::decode(text))
        (void)signedRoster->verified();
    // The text itself as a roster with an arbitrary signature: never verifies.
    const wl::SignedRoster bare{std::string(text), "AAAA"};
    wl::fuzz::require(!bare.verified(), "a bad signature never verifies");
    return 0;
}
