#include "media/SenderEncodings.h"

#include "platform/Log.h"

#include <api/rtp_parameters.h>
#include <api/rtp_sender_interface.h>

#include <string>

namespace wl {

void configureScreenEncodings(webrtc::RtpSenderInterface& sender)
{
    webrtc::RtpParameters parameters = sender.GetParameters();
    parameters.degradation_preference = webrtc::DegradationPreference::DISABLED;
    for (auto& encoding : parameters.encodings) {
        encoding.min_bitrate_bps = 300000;
        encoding.max_bitrate_bps = kScreenMaxBitrateBps;
        encoding.max_framerate = 60;
    }
    auto result = sender.SetParameters(parameters);
    if (!result.ok())
        Log::line(std::string("Wickerlane: could not set the video encoding: ") + result.message());
}

void configureSoundEncodings(webrtc::RtpSenderInterface& sender)
{
    webrtc::RtpParameters parameters = sender.GetParameters();
    for (auto& encoding : parameters.encodings)
        encoding.max_bitrate_bps = 128000;
    auto result = sender.SetParameters(parameters);
    if (!result.ok())
        Log::line(std::string("Wickerlane: could not set the audio encoding: ") + result.message());
}

} // namespace wl
