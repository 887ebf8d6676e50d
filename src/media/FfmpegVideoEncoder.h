#pragma once
// A WebRTC video encoder on a libavcodec software encoder (libx265, libx264), tuned
// for live screen sharing: zero latency (one frame in, one frame out), no B-frames,
// no scene cuts, key frames only on request (the receiver's, or the session's
// VideoFeedback), bitrate changes applied before the next frame.
// H265Encoder and H264Encoder are its two configurations.
//
// Where a new bitrate reopens the codec (libx265), the frames of a picture at rest,
// which the screen capture sends again now and then (VideoFeedback::screenAtRest), keep the running
// rate whatever the target: they cost a few hundred bytes at any rate, and a reopen
// would send a full picture (at 1080p 50 to 300 kB) on a screen that doesn't move. They
// don't count towards holdFrames either, and once the picture moves again any change of
// rate, a halving too, waits until it has held for holdFrames frames: until then the
// frame rate WebRTC reports still counts the frames of the rest (two or three a second),
// and a codec opened at that rate gives each frame many times its share.

#include "media/VideoFeedback.h"

#include <api/video_codecs/video_encoder.h>
#include <modules/video_coding/include/video_codec_interface.h>

#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace wl {

struct EncoderSettings {
    std::string codecName; // "libx265" / "libx264"
    webrtc::VideoCodecType codecType; // kVideoCodecH265 / kVideoCodecH264
    std::map<std::string, std::string> options; // private options (preset, tune, x265-params …)
    bool tenBitCapable = false; // Main 10 from 10-bit input frames
    // libx265 cannot change its bitrate while open: the encoder is reopened, which costs
    // a key frame. 0 = apply in place (libx264).
    // A target below the running rate by at least this fraction reopens once it has held
    // for holdFrames frames; one below by at least reopenAtOnceOnDrop reopens at once.
    // The estimate wobbles by a third now and then on a good link, and a key frame costs
    // far more delay (it waits in the pacer, at 1080p for a few hundred milliseconds)
    // than a second of pictures a little above the new target.
    double reopenOnBitrateChange = 0;
    double reopenAtOnceOnDrop = 0;
    // A target above the running rate by at least this fraction reopens only once it has
    // held for holdFrames frames. The bandwidth estimate climbs in many small steps
    // after a start; a key frame per step made every frame behind it wait in the pacer
    // and taught the receiver's jitter buffer to hold frames back (tens of ms each).
    double reopenOnBitrateRise = 0;
    int holdFrames = 0;
    // Ask the receiver to show frames as soon as they are decoded (playout delay 0).
    bool showAtOnce = false;
    // Called before the codec is opened and once it is closed, the close of a reopen
    // too, for a library that keeps process-wide tables it can only free while none of
    // its encoders is open.
    void (*libraryInUse)() = nullptr;
    void (*libraryDone)() = nullptr;
};

class FfmpegVideoEncoder : public webrtc::VideoEncoder {
public:
    // feedback: the session's (key-frame requests in, frames made out).
    FfmpegVideoEncoder(EncoderSettings settings, std::shared_ptr<VideoFeedback> feedback);
    ~FfmpegVideoEncoder() override;

    int InitEncode(const webrtc::VideoCodec* codecSettings, const webrtc::VideoEncoder::Settings& settings) override;
    int32_t RegisterEncodeCompleteCallback(webrtc::EncodedImageCallback* callback) override;
    int32_t Release() override;
    int32_t Encode(const webrtc::VideoFrame& frame, const std::vector<webrtc::VideoFrameType>* frameTypes) override;
    void SetRates(const RateControlParameters& parameters) override;
    EncoderInfo GetEncoderInfo() const override;

    // For tests and benchmarks: how often the codec was (re)opened.
    int opens() const { return opens_; }
    bool tenBitStream() const { return tenBit_; }

private:
    bool open(int width, int height, bool tenBit);
    void close();
    int sendFrame(AVFrame* frame, const webrtc::VideoFrame& source, bool key);

    EncoderSettings settings_;
    const std::shared_ptr<VideoFeedback> feedback_;
    webrtc::EncodedImageCallback* callback_ = nullptr;
    AVCodecContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    int width_ = 0;
    int height_ = 0;
    bool tenBit_ = false;
    int64_t bitrate_ = 0; // what the open codec runs at (bits/s)
    int64_t targetBitrate_ = 0; // what WebRTC asks for
    double frameRate_ = 30;
    int maxFrameRate_ = 30;
    int64_t nextPts_ = 0;
    int opens_ = 0;
    int framesOffRate_ = 0; // consecutive frames whose target was well off bitrate_
    int framesSinceRest_ = INT_MAX / 2; // frames since the last one of a picture at rest
    bool initialised_ = false;
    bool libraryInUse_ = false; // libraryInUse was called, libraryDone not yet
    webrtc::VideoCodecMode mode_ = webrtc::VideoCodecMode::kScreensharing;
};

} // namespace wl
