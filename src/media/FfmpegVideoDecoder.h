#pragma once
// A WebRTC video decoder on a libavcodec decoder (hevc, h264), with a VAAPI device
// when the machine has one. Frames reach the renderer as 8-bit I420 buffers, or as
// 10-bit I010 buffers for a Main 10 stream; full range is marked in the colour space.
// H265Decoder and H264Decoder are its two configurations.

#include <api/video_codecs/video_decoder.h>

#include <string>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;
struct AVBufferRef;

namespace wl {

class FfmpegVideoDecoder : public webrtc::VideoDecoder {
public:
    FfmpegVideoDecoder(int codecId, std::string name);
    ~FfmpegVideoDecoder() override;

    bool Configure(const Settings& settings) override;
    int32_t Decode(const webrtc::EncodedImage& image, bool missingFrames, int64_t renderTimeMs) override;
    int32_t RegisterDecodeCompleteCallback(webrtc::DecodedImageCallback* callback) override;
    int32_t Release() override;
    DecoderInfo GetDecoderInfo() const override;
    const char* ImplementationName() const override { return name_.c_str(); }

    bool usesHardware() const { return hardware_ != nullptr; }

private:
    int deliver(AVFrame* frame, const webrtc::EncodedImage& image);
    void close();

    int codecId_;
    std::string name_;
    webrtc::DecodedImageCallback* callback_ = nullptr;
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    AVFrame* frame_ = nullptr;
    AVFrame* transfer_ = nullptr;
    AVBufferRef* hardware_ = nullptr;
    bool haveKeyFrame_ = false;
};

} // namespace wl
