#include "media/MicrophoneResult.h"

namespace wl {

const char* microphoneResultName(MicrophoneResult result)
{
    switch (result) {
    case MicrophoneResult::notAllowed: return "notAllowed";
    case MicrophoneResult::noMicrophone: return "noMicrophone";
    case MicrophoneResult::couldNotStart: return "couldNotStart";
    case MicrophoneResult::done: return "done";
    }
    return "unknown";
}

} // namespace wl
