#include "platform/Required.h"

#include "platform/Log.h"

namespace wl {

void wiringMistake(const std::string& what)
{
    Log::line("Wickerlane: " + what);
    throw WiringMistake(what);
}

} // namespace wl
