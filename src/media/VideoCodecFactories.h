#pragma once
// The video codec factories the peer-connection factory is made with: our H.265
// first, then our H.264, then the library's VP8. Never VP9 (the library caps VP9
// screen sharing at 5 fps). WLDisableH265 removes H.265 from both sides.

#include "media/MediaSettings.h"
#include "media/VideoFeedback.h"

#include <api/video_codecs/sdp_video_format.h>
#include <api/video_codecs/video_decoder_factory.h>
#include <api/video_codecs/video_encoder_factory.h>

#include <atomic>
#include <memory>
#include <vector>

namespace wl {

// The formats, in order of preference, for these settings.
std::vector<webrtc::SdpVideoFormat> preferredVideoFormats(bool forEncoding, const MediaSettings& settings);

// Whether the factories offer H.265: the main thread sets it from the settings it read
// as it makes a peer connection; the library's threads read it.
struct VideoCodecChoice {
    std::atomic<bool> h265{true};
};

// Both factories answer from the choice they are made with (H.265 offered when made
// without one). The encoders share the feedback of the session the factory serves.
class VideoEncoderFactory final : public webrtc::VideoEncoderFactory {
public:
    VideoEncoderFactory(std::shared_ptr<const VideoCodecChoice> choice, std::shared_ptr<VideoFeedback> feedback);
    std::vector<webrtc::SdpVideoFormat> GetSupportedFormats() const override;
    CodecSupport QueryCodecSupport(const webrtc::SdpVideoFormat& format,
                                   absl::optional<std::string> scalabilityMode) const override;
    std::unique_ptr<webrtc::VideoEncoder> CreateVideoEncoder(const webrtc::SdpVideoFormat& format) override;

private:
    std::shared_ptr<const VideoCodecChoice> choice_;
    std::shared_ptr<VideoFeedback> feedback_;
};

class VideoDecoderFactory final : public webrtc::VideoDecoderFactory {
public:
    explicit VideoDecoderFactory(std::shared_ptr<const VideoCodecChoice> choice = nullptr);
    std::vector<webrtc::SdpVideoFormat> GetSupportedFormats() const override;
    std::unique_ptr<webrtc::VideoDecoder> CreateVideoDecoder(const webrtc::SdpVideoFormat& format) override;

private:
    std::shared_ptr<const VideoCodecChoice> choice_;
};

} // namespace wl
