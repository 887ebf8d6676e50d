#include "signalling/CandidateMessage.h"

namespace wl {

SignalMessage candidateMessage(const webrtc::IceCandidateInterface& candidate)
{
    SignalMessage message = SignalMessage::make(SignalMessage::Kind::candidate);
    std::string sdp;
    candidate.ToString(&sdp);
    message.sdp = sdp;
    message.sdpMLineIndex = static_cast<std::int32_t>(candidate.sdp_mline_index());
    message.sdpMid = candidate.sdp_mid();
    return message;
}

} // namespace wl
