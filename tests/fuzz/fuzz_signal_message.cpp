#include "FuzzCheck.h"
#include "protocol/SignalMessage.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    wl::fuzz::roundTrip<wl::SignalMessage>(text);
    wl::fuzz::roundTrip<wl::ICEServer>(text);
    return 0;
}
