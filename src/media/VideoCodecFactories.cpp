#include "media/VideoCodecFactories.h"

#include "media/H264Decoder.h"
#include "media/H264Encoder.h"
#include "media/H265Decoder.h"
#include "media/H265Encoder.h"

#include <absl/strings/match.h>
#include <api/video_codecs/h264_profile_level_id.h>
#include <media/base/media_constants.h>
#include <modules/video_coding/codecs/h264/include/h264.h>
#include <modules/video_coding/codecs/vp8/include/vp8.h>

namespace wl {

namespace {

bool isNamed(const webrtc::SdpVideoFormat& format, const char* name)
{
    return absl::EqualsIgnoreCase(format.name, name);
}

webrtc::SdpVideoFormat h264Format()
{
    return webrtc::CreateH264Format(webrtc::H264Profile::kProfileConstrainedBaseline, webrtc::H264Level::kLevel5_1,
                                    "1");
}

MediaSettings settingsOf(const std::shared_ptr<const VideoCodecChoice>& choice)
{
    MediaSettings settings;
    settings.h265 = !choice || choice->h265.load();
    return settings;
}

} // namespace

std::vector<webrtc::SdpVideoFormat> preferredVideoFormats(bool forEncoding, const MediaSettings& settings)
{
    std::vector<webrtc::SdpVideoFormat> formats;
    bool h265 = settings.h265;
    if (h265 && (forEncoding ? H265Encoder::isAvailable() : H265Decoder::isAvailable()))
        formats.emplace_back(cricket::kH265CodecName); // bare H265/90000: both ends are this program
    if (forEncoding ? H264Encoder::isAvailable() : H264Decoder::isAvailable())
        formats.push_back(h264Format());
    formats.emplace_back(cricket::kVp8CodecName);
    return formats;
}

VideoEncoderFactory::VideoEncoderFactory(std::shared_ptr<const VideoCodecChoice> choice,
                                         std::shared_ptr<VideoFeedback> feedback)
    : choice_(std::move(choice)), feedback_(std::move(feedback))
{
}

std::vector<webrtc::SdpVideoFormat> VideoEncoderFactory::GetSupportedFormats() const
{
    return preferredVideoFormats(true, settingsOf(choice_));
}

webrtc::VideoEncoderFactory::CodecSupport VideoEncoderFactory::QueryCodecSupport(
    const webrtc::SdpVideoFormat& format, absl::optional<std::string> scalabilityMode) const
{
    CodecSupport support;
    if (scalabilityMode && !isNamed(format, cricket::kVp8CodecName))
        return support;
    for (const auto& supported : GetSupportedFormats()) {
        if (format.IsSameCodec(supported))
            support.is_supported = true;
    }
    return support;
}

std::unique_ptr<webrtc::VideoEncoder> VideoEncoderFactory::CreateVideoEncoder(const webrtc::SdpVideoFormat& format)
{
    if (isNamed(format, cricket::kH265CodecName))
        return H265Encoder::create(feedback_);
    if (isNamed(format, cricket::kH264CodecName))
        return H264Encoder::create(feedback_);
    if (isNamed(format, cricket::kVp8CodecName))
        return webrtc::VP8Encoder::Create();
    return nullptr;
}

VideoDecoderFactory::VideoDecoderFactory(std::shared_ptr<const VideoCodecChoice> choice)
    : choice_(std::move(choice)) { }

std::vector<webrtc::SdpVideoFormat> VideoDecoderFactory::GetSupportedFormats() const
{
    return preferredVideoFormats(false, settingsOf(choice_));
}

std::unique_ptr<webrtc::VideoDecoder> VideoDecoderFactory::CreateVideoDecoder(const webrtc::SdpVideoFormat& format)
{
    if (isNamed(format, cricket::kH265CodecName))
        return H265Decoder::create();
    if (isNamed(format, cricket::kH264CodecName))
        return H264Decoder::create();
    if (isNamed(format, cricket::kVp8CodecName))
        return webrtc::VP8Decoder::Create();
    return nullptr;
}

} // namespace wl
