#pragma once
// The video codec factories the peer-connection factory is made with: our H.265
// first, then our H.264, then the library's VP8. Never VP9 (the library caps VP9
// screen sharing at 5 fps). WLDisableH265 removes H.265 from both sides.

#include <api/video_codecs/sdp_video_format.h>
#include <api/video_codecs/video_decoder_factory.h>
#include <api/video_codecs/video_encoder_factory.h>

#include <memory>
#include <vector>

namespace wl {

// The formats, in order of preference, for this process's settings right now.
std::vector<webrtc::SdpVideoFormat> preferredVideoFormats(bool forEncoding);

class VideoEncoderFactory final : public webrtc::VideoEncoderFactory {
public:
    std::vector<webrtc::SdpVideoFormat> GetSupportedFormats() const override;
    CodecSupport QueryCodecSupport(const webrtc::SdpVideoFormat& format,
                                   absl::optional<std::string> scalabilityMode) const override;
    std::unique_ptr<webrtc::VideoEncoder> CreateVideoEncoder(const webrtc::SdpVideoFormat& format) override;
};

class VideoDecoderFactory final : public webrtc::VideoDecoderFactory {
public:
    std::vector<webrtc::SdpVideoFormat> GetSupportedFormats() const override;
    std::unique_ptr<webrtc::VideoDecoder> CreateVideoDecoder(const webrtc::SdpVideoFormat& format) override;
};

} // namespace wl
