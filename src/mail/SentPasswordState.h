#pragma once
// What became of a password this Mac sent, as the password centre reports it.
// sent, delivered and opened are live; unsent and expired are over.

#include <string>

namespace wl {

enum class SentPasswordState { sent, delivered, opened, unsent, expired };

inline bool isLive(SentPasswordState state)
{
    return state == SentPasswordState::sent || state == SentPasswordState::delivered ||
        state == SentPasswordState::opened;
}

inline std::string toString(SentPasswordState state)
{
    switch (state) {
    case SentPasswordState::sent: return "sent";
    case SentPasswordState::delivered: return "delivered";
    case SentPasswordState::opened: return "opened";
    case SentPasswordState::unsent: return "unsent";
    case SentPasswordState::expired: return "expired";
    }
    return "sent";
}

} // namespace wl
