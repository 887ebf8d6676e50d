#pragma once
// A `candidate` signalling message carrying one local ICE candidate.

#include "protocol/SignalMessage.h"

#include <api/jsep.h>

namespace wl {

// kind candidate, sdp = the candidate line, sdpMLineIndex and sdpMid as the
// candidate's; every other field absent.
SignalMessage candidateMessage(const webrtc::IceCandidateInterface& candidate);

} // namespace wl
