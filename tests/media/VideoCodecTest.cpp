// Our H.265 and H.264 codecs driven through WebRTC's encoder and decoder interfaces.
#include "media/H264Encoder.h"
#include "media/H265Decoder.h"
#include "media/H265Encoder.h"
#include "media/VideoFeedback.h"
#include "media/ScreenCapturer.h"
#include "media/VideoCodecFactories.h"
#include "media/WantsTenBit.h"
#include "platform/Defaults.h"

#include <api/video/encoded_image.h>
#include <api/video/i010_buffer.h>
#include <api/video/i420_buffer.h>
#include <api/video_codecs/video_codec.h>
#include <modules/video_coding/include/video_error_codes.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <malloc.h>
#include <thread>
#include <vector>

namespace {

using webrtc::VideoFrameType;

class Collect : public webrtc::EncodedImageCallback {
public:
    Result OnEncodedImage(const webrtc::EncodedImage& image, const webrtc::CodecSpecificInfo* info) override
    {
        images.push_back(image);
        codecTypes.push_back(info ? info->codecType : webrtc::kVideoCodecGeneric);
        return Result(Result::OK);
    }
    std::vector<webrtc::EncodedImage> images;
    std::vector<webrtc::VideoCodecType> codecTypes;
};

class DecodedFrames : public webrtc::DecodedImageCallback {
public:
    int32_t Decoded(webrtc::VideoFrame& frame) override
    {
        frames.push_back(frame);
        return 0;
    }
    std::vector<webrtc::VideoFrame> frames;
};

webrtc::VideoCodec settingsFor(webrtc::VideoCodecType type, int w, int h, int kbps = 1000)
{
    webrtc::VideoCodec codec;
    codec.codecType = type;
    codec.width = uint16_t(w);
    codec.height = uint16_t(h);
    codec.startBitrate = unsigned(kbps);
    codec.maxBitrate = unsigned(kbps * 2);
    codec.maxFramerate = 30;
    codec.mode = webrtc::VideoCodecMode::kScreensharing;
    return codec;
}

const webrtc::VideoEncoder::Settings kEncoderSettings(webrtc::VideoEncoder::Capabilities(false), 2, 1200);

webrtc::VideoFrame frame8(int w, int h, int n)
{
    auto buffer = webrtc::I420Buffer::Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            buffer->MutableDataY()[y * buffer->StrideY() + x] = uint8_t((x + n * 4) ^ y);
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x) {
            buffer->MutableDataU()[y * buffer->StrideU() + x] = uint8_t(128 + x / 4);
            buffer->MutableDataV()[y * buffer->StrideV() + x] = uint8_t(128 - y / 4);
        }
    return webrtc::VideoFrame::Builder()
        .set_video_frame_buffer(buffer)
        .set_timestamp_rtp(uint32_t(n * 3000))
        .set_timestamp_us(n * 33333)
        .build();
}

webrtc::VideoFrame frame10(int w, int h, int n)
{
    auto buffer = webrtc::I010Buffer::Create(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            buffer->MutableDataY()[y * buffer->StrideY() + x] = uint16_t(((x * 4 + n * 8) ^ (y * 3)) & 1023);
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w / 2; ++x) {
            buffer->MutableDataU()[y * buffer->StrideU() + x] = uint16_t(512 + x);
            buffer->MutableDataV()[y * buffer->StrideV() + x] = uint16_t(512 - y);
        }
    return webrtc::VideoFrame::Builder()
        .set_video_frame_buffer(buffer)
        .set_timestamp_rtp(uint32_t(n * 3000))
        .set_timestamp_us(n * 33333)
        .build();
}

bool isKey(const webrtc::EncodedImage& image)
{
    return image._frameType == VideoFrameType::kVideoFrameKey;
}

void keyFramesOnDemand(webrtc::VideoEncoder& encoder, wl::VideoFeedback& feedback, webrtc::VideoCodecType type)
{
    Collect out;
    auto codec = settingsFor(type, 320, 240);
    ASSERT_EQ(encoder.InitEncode(&codec, kEncoderSettings), WEBRTC_VIDEO_CODEC_OK);
    encoder.RegisterEncodeCompleteCallback(&out);
    std::vector<VideoFrameType> delta{VideoFrameType::kVideoFrameDelta};
    std::vector<VideoFrameType> key{VideoFrameType::kVideoFrameKey};

    for (int n = 0; n < 10; ++n)
        ASSERT_EQ(encoder.Encode(frame8(320, 240, n), &delta), WEBRTC_VIDEO_CODEC_OK);
    ASSERT_EQ(out.images.size(), 10u) << "zero latency: one frame in, one frame out";
    EXPECT_TRUE(isKey(out.images[0]));
    for (size_t i = 1; i < out.images.size(); ++i)
        EXPECT_FALSE(isKey(out.images[i])) << "no key frame unless asked, frame " << i;
    EXPECT_EQ(out.codecTypes[0], type);
    EXPECT_EQ(out.images[3].Timestamp(), 9000u) << "RTP timestamp carried through";

    // The session's request: raised here, read and cleared by the encoder.
    feedback.requestKeyFrame();
    size_t before = out.images.size();
    for (int n = 10; n < 12; ++n)
        ASSERT_EQ(encoder.Encode(frame8(320, 240, n), &delta), WEBRTC_VIDEO_CODEC_OK);
    ASSERT_GE(out.images.size(), before + 2);
    EXPECT_TRUE(isKey(out.images[before]) || isKey(out.images[before + 1])) << "key frame within 2 frames";
    EXPECT_FALSE(feedback.keyFrameRequestPending()) << "the encoder clears the request";

    // The receiver's request (RTCP PLI/FIR arrives as a key frame type).
    before = out.images.size();
    ASSERT_EQ(encoder.Encode(frame8(320, 240, 12), &key), WEBRTC_VIDEO_CODEC_OK);
    ASSERT_EQ(encoder.Encode(frame8(320, 240, 13), &delta), WEBRTC_VIDEO_CODEC_OK);
    EXPECT_TRUE(isKey(out.images[before]));
    EXPECT_FALSE(isKey(out.images[before + 1]));
    encoder.Release();
}

TEST(H265Codec, KeyFramesOnlyOnTheFlagOrTheReceiversRequest)
{
    ASSERT_TRUE(wl::H265Encoder::isAvailable());
    auto feedback = std::make_shared<wl::VideoFeedback>();
    wl::H265Encoder encoder(feedback);
    keyFramesOnDemand(encoder, *feedback, webrtc::kVideoCodecH265);
}

TEST(H264Codec, KeyFramesOnlyOnTheFlagOrTheReceiversRequest)
{
    ASSERT_TRUE(wl::H264Encoder::isAvailable());
    auto feedback = std::make_shared<wl::VideoFeedback>();
    wl::H264Encoder encoder(feedback);
    keyFramesOnDemand(encoder, *feedback, webrtc::kVideoCodecH264);
}

// Two sessions side by side, each with its encoders made as its factory makes them: a
// key-frame request of one reaches its own encoder only, whichever encodes first, and
// each counts only its own frames.
TEST(VideoCodecs, TwoSessionsKeepTheirKeyFrameRequestsApart)
{
    auto first = std::make_shared<wl::VideoFeedback>();
    auto second = std::make_shared<wl::VideoFeedback>();
    wl::VideoEncoderFactory firstCodecs(nullptr, first);
    wl::VideoEncoderFactory secondCodecs(nullptr, second);
    auto firstEncoder = firstCodecs.CreateVideoEncoder(webrtc::SdpVideoFormat("H265"));
    auto secondEncoder = secondCodecs.CreateVideoEncoder(webrtc::SdpVideoFormat("H265"));
    ASSERT_TRUE(firstEncoder && secondEncoder);
    Collect firstOut, secondOut;
    auto codec = settingsFor(webrtc::kVideoCodecH265, 320, 240);
    ASSERT_EQ(firstEncoder->InitEncode(&codec, kEncoderSettings), WEBRTC_VIDEO_CODEC_OK);
    ASSERT_EQ(secondEncoder->InitEncode(&codec, kEncoderSettings), WEBRTC_VIDEO_CODEC_OK);
    firstEncoder->RegisterEncodeCompleteCallback(&firstOut);
    secondEncoder->RegisterEncodeCompleteCallback(&secondOut);
    std::vector<VideoFrameType> delta{VideoFrameType::kVideoFrameDelta};
    int n = 0;
    for (; n < 3; ++n) {
        ASSERT_EQ(firstEncoder->Encode(frame8(320, 240, n), &delta), WEBRTC_VIDEO_CODEC_OK);
        ASSERT_EQ(secondEncoder->Encode(frame8(320, 240, n), &delta), WEBRTC_VIDEO_CODEC_OK);
    }

    // The first session's viewer asks; the second session's encoder happens to run first.
    first->requestKeyFrame();
    ASSERT_EQ(secondEncoder->Encode(frame8(320, 240, n), &delta), WEBRTC_VIDEO_CODEC_OK);
    ASSERT_EQ(firstEncoder->Encode(frame8(320, 240, n), &delta), WEBRTC_VIDEO_CODEC_OK);
    ASSERT_EQ(firstOut.images.size(), 4u);
    ASSERT_EQ(secondOut.images.size(), 4u);
    EXPECT_FALSE(isKey(secondOut.images.back())) << "the other session's request stays with it";
    EXPECT_TRUE(isKey(firstOut.images.back())) << "the request reaches its own encoder";
    EXPECT_FALSE(first->keyFrameRequestPending());

    ++n;
    second->requestKeyFrame();
    ASSERT_EQ(firstEncoder->Encode(frame8(320, 240, n), &delta), WEBRTC_VIDEO_CODEC_OK);
    ASSERT_EQ(secondEncoder->Encode(frame8(320, 240, n), &delta), WEBRTC_VIDEO_CODEC_OK);
    EXPECT_FALSE(isKey(firstOut.images.back()));
    EXPECT_TRUE(isKey(secondOut.images.back()));

    ASSERT_EQ(firstEncoder->Encode(frame8(320, 240, ++n), &delta), WEBRTC_VIDEO_CODEC_OK);
    EXPECT_EQ(first->encodedFrameCount(), 6);
    EXPECT_EQ(second->encodedFrameCount(), 5);
    firstEncoder->Release();
    secondEncoder->Release();
}

TEST(H265Codec, MainTenStreamReachesTheRendererAsTenBitBuffer)
{
    wl::H265Encoder encoder;
    Collect out;
    auto codec = settingsFor(webrtc::kVideoCodecH265, 256, 128);
    ASSERT_EQ(encoder.InitEncode(&codec, kEncoderSettings), WEBRTC_VIDEO_CODEC_OK);
    encoder.RegisterEncodeCompleteCallback(&out);
    for (int n = 0; n < 3; ++n)
        ASSERT_EQ(encoder.Encode(frame10(256, 128, n), nullptr), WEBRTC_VIDEO_CODEC_OK);
    EXPECT_TRUE(encoder.tenBitStream());
    ASSERT_EQ(out.images.size(), 3u);

    wl::H265Decoder decoder;
    DecodedFrames decoded;
    webrtc::VideoDecoder::Settings settings;
    settings.set_codec_type(webrtc::kVideoCodecH265);
    settings.set_number_of_cores(2);
    ASSERT_TRUE(decoder.Configure(settings));
    decoder.RegisterDecodeCompleteCallback(&decoded);
    for (auto& image : out.images)
        ASSERT_EQ(decoder.Decode(image, false, 0), WEBRTC_VIDEO_CODEC_OK);
    ASSERT_EQ(decoded.frames.size(), 3u);
    auto buffer = decoded.frames[2].video_frame_buffer();
    ASSERT_EQ(buffer->type(), webrtc::VideoFrameBuffer::Type::kI010);
    EXPECT_EQ(buffer->width(), 256);
    EXPECT_EQ(decoded.frames[2].timestamp(), out.images[2].Timestamp());
    // Values survive with 10-bit precision (not squeezed through 8 bits).
    auto sourceBuffer = frame10(256, 128, 2).video_frame_buffer();
    const auto* source = sourceBuffer->GetI010();
    const auto* got = buffer->GetI010();
    double total = 0;
    int oddValues = 0;
    for (int x = 0; x < 256; ++x) {
        total +=
            std::abs(int(got->DataY()[40 * got->StrideY() + x]) - int(source->DataY()[40 * source->StrideY() + x]));
        oddValues += got->DataY()[40 * got->StrideY() + x] % 4 != 0;
    }
    EXPECT_LT(total / 256, 24.0);
    EXPECT_GT(oddValues, 0) << "all samples multiples of 4: only 8 bits of information";
    ASSERT_TRUE(decoded.frames[2].color_space().has_value());
    EXPECT_EQ(decoded.frames[2].color_space()->range(), webrtc::ColorSpace::RangeID::kFull);

    // Back to 8-bit frames: the stream follows, and so does the decoder's buffer.
    out.images.clear();
    decoded.frames.clear();
    ASSERT_EQ(encoder.Encode(frame8(256, 128, 4), nullptr), WEBRTC_VIDEO_CODEC_OK);
    EXPECT_FALSE(encoder.tenBitStream());
    ASSERT_EQ(out.images.size(), 1u);
    EXPECT_TRUE(isKey(out.images[0]));
    ASSERT_EQ(decoder.Decode(out.images[0], false, 0), WEBRTC_VIDEO_CODEC_OK);
    ASSERT_EQ(decoded.frames.size(), 1u);
    EXPECT_EQ(decoded.frames[0].video_frame_buffer()->type(), webrtc::VideoFrameBuffer::Type::kI420);
}

TEST(H265Codec, DecoderRejectsGarbageAndWaitsForAKeyFrame)
{
    wl::H265Decoder decoder;
    DecodedFrames decoded;
    webrtc::VideoDecoder::Settings settings;
    settings.set_codec_type(webrtc::kVideoCodecH265);
    ASSERT_TRUE(decoder.Configure(settings));
    decoder.RegisterDecodeCompleteCallback(&decoded);
    uint8_t junk[64];
    for (int i = 0; i < 64; ++i)
        junk[i] = uint8_t(i * 37);
    webrtc::EncodedImage image;
    image.SetEncodedData(webrtc::EncodedImageBuffer::Create(junk, sizeof junk));
    image._frameType = VideoFrameType::kVideoFrameDelta;
    EXPECT_EQ(decoder.Decode(image, false, 0), WEBRTC_VIDEO_CODEC_ERROR) << "a delta frame before any key frame";
    image._frameType = VideoFrameType::kVideoFrameKey;
    EXPECT_NE(decoder.Decode(image, false, 0), WEBRTC_VIDEO_CODEC_OK);
    EXPECT_TRUE(decoded.frames.empty());
    webrtc::EncodedImage empty;
    EXPECT_EQ(decoder.Decode(empty, false, 0), WEBRTC_VIDEO_CODEC_ERR_PARAMETER);
}

// libx265 takes a new bitrate only when reopened, and each reopen is a key frame. A
// halved target applies at once (the excess would queue in the pacer); a smaller drop or
// a rise waits until it has held for about a second, so that a wobbling or climbing
// estimate costs one key frame, not one per step; small drifts cost nothing.
TEST(H265Codec, BitrateHalvedAppliesAtOnceOtherChangesOnceSettled)
{
    wl::H265Encoder encoder;
    Collect out;
    auto codec = settingsFor(webrtc::kVideoCodecH265, 320, 240, 3000);
    ASSERT_EQ(encoder.InitEncode(&codec, kEncoderSettings), WEBRTC_VIDEO_CODEC_OK);
    encoder.RegisterEncodeCompleteCallback(&out);
    int n = 0;
    for (; n < 3; ++n)
        encoder.Encode(frame8(320, 240, n), nullptr);
    EXPECT_EQ(encoder.opens(), 1);
    auto setRate = [&](uint32_t bps) {
        webrtc::VideoBitrateAllocation allocation;
        allocation.SetBitrate(0, 0, bps);
        encoder.SetRates(webrtc::VideoEncoder::RateControlParameters(allocation, 30));
    };

    setRate(2'900'000); // a small drift down
    encoder.Encode(frame8(320, 240, n++), nullptr);
    EXPECT_EQ(encoder.opens(), 1);

    // The estimate wobbles down by a third and back: no key frame.
    for (int i = 0; i < 20; ++i) {
        setRate(2'000'000);
        encoder.Encode(frame8(320, 240, n++), nullptr);
    }
    setRate(3'000'000);
    encoder.Encode(frame8(320, 240, n++), nullptr);
    EXPECT_EQ(encoder.opens(), 1);
    // A third lower for a second: applied then.
    setRate(2'000'000);
    for (int i = 0; i < 29; ++i)
        encoder.Encode(frame8(320, 240, n++), nullptr);
    EXPECT_EQ(encoder.opens(), 1);
    encoder.Encode(frame8(320, 240, n++), nullptr);
    EXPECT_EQ(encoder.opens(), 2) << "a drop that held applies";

    setRate(300'000); // the network got much worse
    size_t before = out.images.size();
    encoder.Encode(frame8(320, 240, n++), nullptr);
    EXPECT_EQ(encoder.opens(), 3) << "a drop applies on the next frame";
    EXPECT_TRUE(isKey(out.images[before]));

    // The estimate climbs in steps: no reopen until a rise has held for 30 frames.
    int keys = 0;
    for (int i = 0; i < 29; ++i) {
        setRate(uint32_t(450'000 + i * 50'000));
        before = out.images.size();
        encoder.Encode(frame8(320, 240, n++), nullptr);
        keys += isKey(out.images[before]) ? 1 : 0;
    }
    EXPECT_EQ(encoder.opens(), 3);
    EXPECT_EQ(keys, 0) << "no key frame per step of a climbing estimate";
    before = out.images.size();
    encoder.Encode(frame8(320, 240, n++), nullptr);
    EXPECT_EQ(encoder.opens(), 4) << "the settled rise applies once";
    EXPECT_TRUE(isKey(out.images[before]));

    // A rise that falls back before it has held does not reopen.
    for (int i = 0; i < 20; ++i) {
        setRate(5'000'000);
        encoder.Encode(frame8(320, 240, n++), nullptr);
    }
    setRate(1'900'000);
    for (int i = 0; i < 20; ++i)
        encoder.Encode(frame8(320, 240, n++), nullptr);
    setRate(5'000'000);
    for (int i = 0; i < 20; ++i)
        encoder.Encode(frame8(320, 240, n++), nullptr);
    EXPECT_EQ(encoder.opens(), 4);
}

// A picture at rest, sent again now and then by the capture, keeps the running rate
// however the target moves: a reopen would send a full picture on a screen that doesn't
// move. Once it moves again, a new rate, a halving too, waits until it has held for a
// second of the moving picture.
TEST(H265Codec, APictureAtRestKeepsItsRateUntilItMoves)
{
    auto feedback = std::make_shared<wl::VideoFeedback>();
    wl::H265Encoder encoder(feedback);
    Collect out;
    auto codec = settingsFor(webrtc::kVideoCodecH265, 320, 240, 3000);
    ASSERT_EQ(encoder.InitEncode(&codec, kEncoderSettings), WEBRTC_VIDEO_CODEC_OK);
    encoder.RegisterEncodeCompleteCallback(&out);
    auto setRate = [&](uint32_t bps, double fps) {
        webrtc::VideoBitrateAllocation allocation;
        allocation.SetBitrate(0, 0, bps);
        encoder.SetRates(webrtc::VideoEncoder::RateControlParameters(allocation, fps));
    };
    int n = 0;
    auto moving = [&] {
        feedback->setScreenAtRest(false);
        return encoder.Encode(frame8(320, 240, n++), nullptr);
    };
    auto atRest = [&] {
        feedback->setScreenAtRest(true);
        return encoder.Encode(frame8(320, 240, n - 1), nullptr);
    };
    auto keys = [&] { return std::count_if(out.images.begin(), out.images.end(), isKey); };
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(moving(), WEBRTC_VIDEO_CODEC_OK);
    const auto keysBefore = keys();
    setRate(1'000'000, 3); // the target falls to a third
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(atRest(), WEBRTC_VIDEO_CODEC_OK);
    setRate(8'000'000, 2); // a probe lifts the estimate for longer than the hold
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(atRest(), WEBRTC_VIDEO_CODEC_OK);
    setRate(1'000'000, 2);
    for (int i = 0; i < 10; ++i)
        ASSERT_EQ(atRest(), WEBRTC_VIDEO_CODEC_OK);
    EXPECT_EQ(encoder.opens(), 1) << "the rate of a picture at rest stays";
    EXPECT_EQ(keys(), keysBefore) << "no key frame on a picture at rest";

    // It moves again: the third of the rate waits for a second of motion, then applies.
    setRate(1'000'000, 30);
    for (int i = 0; i < 29; ++i)
        ASSERT_EQ(moving(), WEBRTC_VIDEO_CODEC_OK);
    EXPECT_EQ(encoder.opens(), 1);
    EXPECT_EQ(keys(), keysBefore);
    ASSERT_EQ(moving(), WEBRTC_VIDEO_CODEC_OK);
    EXPECT_EQ(encoder.opens(), 2);
    EXPECT_TRUE(isKey(out.images.back()));
}

// Every session opens the H.265 encoder anew, and so does every larger bitrate change:
// what an encoder took must come back when it closes. libx265 kept about 200 kB of
// per-row buffers at 1080p from each encoder it closed, and a motion-cost table for
// every quantiser it had used (each session at another bitrate uses a few more, and so
// does each reopen within a long session).
TEST(H265Codec, ClosedEncodersGiveBackTheirMemory)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "malloc's figures are the sanitizer's";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "malloc's figures are the sanitizer's";
#endif
#endif
    constexpr int w = 1920, h = 1080;
    wl::H265Encoder encoder;
    Collect out;
    encoder.RegisterEncodeCompleteCallback(&out);
    const auto first = frame8(w, h, 0), second = frame8(w, h, 1);
    auto session = [&](int kbps) {
        auto codec = settingsFor(webrtc::kVideoCodecH265, w, h, kbps);
        ASSERT_EQ(encoder.InitEncode(&codec, kEncoderSettings), WEBRTC_VIDEO_CODEC_OK);
        ASSERT_EQ(encoder.Encode(first, nullptr), WEBRTC_VIDEO_CODEC_OK);
        ASSERT_EQ(encoder.Encode(second, nullptr), WEBRTC_VIDEO_CODEC_OK);
        encoder.Release();
    };
    auto inUse = [] {
        const struct mallinfo2 info = mallinfo2();
        return double(info.uordblks + info.hblkhd);
    };
    session(2000); // what libavcodec and libx265 set up once per process
    const double before = inUse();
    constexpr int kSessions = 10;
    for (int i = 0; i < kSessions; ++i)
        session(150 + 600 * i);
    const double perSession = (inUse() - before) / kSessions;
    EXPECT_LT(perSession, 50'000) << "bytes kept per closed 1080p encoder";
    EXPECT_EQ(out.images.size(), size_t(2 * (1 + kSessions)));

    // One long session: the target halves again and again, and each halving reopens.
    auto codec = settingsFor(webrtc::kVideoCodecH265, w, h, 8000);
    ASSERT_EQ(encoder.InitEncode(&codec, kEncoderSettings), WEBRTC_VIDEO_CODEC_OK);
    ASSERT_EQ(encoder.Encode(first, nullptr), WEBRTC_VIDEO_CODEC_OK);
    ASSERT_EQ(encoder.Encode(second, nullptr), WEBRTC_VIDEO_CODEC_OK);
    const int opensBefore = encoder.opens();
    const double open = inUse();
    for (int i = 1; i <= kSessions; ++i) {
        webrtc::VideoBitrateAllocation allocation;
        allocation.SetBitrate(0, 0, 8'000'000u >> i);
        encoder.SetRates(webrtc::VideoEncoder::RateControlParameters(allocation, 30));
        ASSERT_EQ(encoder.Encode(i % 2 ? first : second, nullptr), WEBRTC_VIDEO_CODEC_OK);
        ASSERT_EQ(encoder.Encode(i % 2 ? second : first, nullptr), WEBRTC_VIDEO_CODEC_OK);
    }
    EXPECT_EQ(encoder.opens(), opensBefore + kSessions);
    const double perReopen = (inUse() - open) / kSessions;
    EXPECT_LT(perReopen, 50'000) << "bytes kept per reopen";
    encoder.Release();
}

// Two sessions' encoders, each on its thread as WebRTC runs them: one reopens for a new
// rate again and again while the other encodes a moving picture. libx265's motion-cost
// tables are the process's, shared by both: the reopen's close must not free them while
// the other encoder works with them (it would read freed memory or none at all).
TEST(H265Codec, OneEncoderReopensWhileAnotherEncodes)
{
    constexpr int w = 640, h = 360;
    std::vector<webrtc::VideoFrame> frames;
    for (int n = 0; n < 8; ++n)
        frames.push_back(frame8(w, h, n));

    wl::H265Encoder steady;
    Collect steadyOut;
    auto steadyCodec = settingsFor(webrtc::kVideoCodecH265, w, h, 2000);
    ASSERT_EQ(steady.InitEncode(&steadyCodec, kEncoderSettings), WEBRTC_VIDEO_CODEC_OK);
    steady.RegisterEncodeCompleteCallback(&steadyOut);
    std::atomic<bool> done{false};
    int steadyEncoded = 0, steadyFailed = 0;
    std::thread steadyThread([&] {
        // Bounded, whatever the other side does.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        for (int n = 0; !done && n < 100'000 && std::chrono::steady_clock::now() < deadline; ++n) {
            if (steady.Encode(frames[size_t(n) % frames.size()], nullptr) == WEBRTC_VIDEO_CODEC_OK)
                ++steadyEncoded;
            else
                ++steadyFailed;
        }
    });

    wl::H265Encoder reopening;
    Collect reopenedOut;
    reopening.RegisterEncodeCompleteCallback(&reopenedOut);
    int expectedOpens = 0, n = 0;
    constexpr int kRounds = 4, kHalvings = 8;
    for (int round = 0; round < kRounds; ++round) {
        auto codec = settingsFor(webrtc::kVideoCodecH265, w, h, 16000);
        ASSERT_EQ(reopening.InitEncode(&codec, kEncoderSettings), WEBRTC_VIDEO_CODEC_OK);
        ASSERT_EQ(reopening.Encode(frames[size_t(n++) % frames.size()], nullptr), WEBRTC_VIDEO_CODEC_OK);
        expectedOpens += 1 + kHalvings;
        for (int i = 1; i <= kHalvings; ++i) {
            webrtc::VideoBitrateAllocation allocation;
            allocation.SetBitrate(0, 0, 16'000'000u >> i);
            reopening.SetRates(webrtc::VideoEncoder::RateControlParameters(allocation, 30));
            ASSERT_EQ(reopening.Encode(frames[size_t(n++) % frames.size()], nullptr), WEBRTC_VIDEO_CODEC_OK);
            ASSERT_EQ(reopening.Encode(frames[size_t(n++) % frames.size()], nullptr), WEBRTC_VIDEO_CODEC_OK);
        }
        reopening.Release();
    }
    done = true;
    steadyThread.join();

    EXPECT_EQ(reopening.opens(), expectedOpens) << "each halving reopened";
    EXPECT_EQ(reopenedOut.images.size(), size_t(n));
    EXPECT_EQ(steadyFailed, 0);
    EXPECT_GT(steadyEncoded, 0);
    EXPECT_EQ(steadyOut.images.size(), size_t(steadyEncoded)) << "one frame in, one frame out";
    steady.Release();
}

// Our H.265 stream asks the receiver to show each frame at once (playout delay 0: the
// receiver skips its jitter-buffer hold); H.264 leaves the receiver's timing alone.
TEST(VideoCodecs, OnlyH265AsksForImmediatePlayout)
{
    for (auto type : {webrtc::kVideoCodecH265, webrtc::kVideoCodecH264}) {
        std::unique_ptr<webrtc::VideoEncoder> encoder = type == webrtc::kVideoCodecH265
            ? std::make_unique<wl::H265Encoder>()
            : std::unique_ptr<webrtc::VideoEncoder>(std::make_unique<wl::H264Encoder>());
        Collect out;
        auto codec = settingsFor(type, 320, 240, 1000);
        ASSERT_EQ(encoder->InitEncode(&codec, kEncoderSettings), WEBRTC_VIDEO_CODEC_OK);
        encoder->RegisterEncodeCompleteCallback(&out);
        encoder->Encode(frame8(320, 240, 0), nullptr);
        encoder->Encode(frame8(320, 240, 1), nullptr);
        ASSERT_EQ(out.images.size(), 2u);
        for (const auto& image : out.images) {
            if (type == webrtc::kVideoCodecH265)
                EXPECT_EQ(image.playout_delay_, webrtc::VideoPlayoutDelay(0, 0));
            else
                EXPECT_EQ(image.playout_delay_, webrtc::VideoPlayoutDelay()) << "H.264 unchanged";
        }
    }
}

TEST(H264Codec, BitrateChangesApplyInPlace)
{
    wl::H264Encoder encoder;
    Collect out;
    auto codec = settingsFor(webrtc::kVideoCodecH264, 320, 240, 300);
    ASSERT_EQ(encoder.InitEncode(&codec, kEncoderSettings), WEBRTC_VIDEO_CODEC_OK);
    encoder.RegisterEncodeCompleteCallback(&out);
    encoder.Encode(frame8(320, 240, 0), nullptr);
    webrtc::VideoBitrateAllocation allocation;
    allocation.SetBitrate(0, 0, 3'000'000);
    encoder.SetRates(webrtc::VideoEncoder::RateControlParameters(allocation, 30));
    encoder.Encode(frame8(320, 240, 1), nullptr);
    EXPECT_EQ(encoder.opens(), 1);
    EXPECT_FALSE(isKey(out.images.back()));
}

TEST(VideoCodecFactories, OrderAndSettings)
{
    wl::MemoryDefaults defaults;
    auto formats = wl::preferredVideoFormats(true, wl::MediaSettings::read(defaults));
    ASSERT_EQ(formats.size(), 3u);
    EXPECT_EQ(formats[0].name, "H265");
    EXPECT_TRUE(formats[0].parameters.empty()) << "bare H265/90000";
    EXPECT_EQ(formats[1].name, "H264");
    EXPECT_EQ(formats[1].parameters.at("packetization-mode"), "1");
    EXPECT_EQ(formats[2].name, "VP8");
    for (const auto& f : wl::preferredVideoFormats(false, wl::MediaSettings::read(defaults)))
        EXPECT_NE(f.name, "VP9");

    wl::VideoEncoderFactory encoders(nullptr, std::make_shared<wl::VideoFeedback>());
    EXPECT_NE(encoders.CreateVideoEncoder(webrtc::SdpVideoFormat("H265")), nullptr);
    EXPECT_EQ(encoders.CreateVideoEncoder(webrtc::SdpVideoFormat("VP9")), nullptr);

    defaults.setBool("WLDisableH265", true);
    const auto noH265 = wl::MediaSettings::read(defaults);
    EXPECT_EQ(wl::preferredVideoFormats(true, noH265)[0].name, "H264");
    EXPECT_EQ(wl::preferredVideoFormats(false, noH265)[0].name, "H264");
    EXPECT_FALSE(wl::wantsTenBitH265(noH265));
    // A factory made with the choice follows it as the choice changes.
    auto choice = std::make_shared<wl::VideoCodecChoice>();
    wl::VideoDecoderFactory decoders(choice);
    EXPECT_EQ(decoders.GetSupportedFormats()[0].name, "H265");
    choice->h265 = false;
    EXPECT_EQ(decoders.GetSupportedFormats()[0].name, "H264");
    defaults.setBool("WLDisableH265", false);
    // The X screen delivers 8 bits per channel: no session asks for 10, whatever the settings.
    EXPECT_TRUE(wl::canDecodeH265());
    EXPECT_FALSE(wl::ScreenCapturer::deliversTenBits());
    EXPECT_FALSE(wl::wantsTenBitH265(wl::MediaSettings::read(defaults)));
    defaults.setBool("WLDisable10Bit", true);
    EXPECT_FALSE(wl::wantsTenBitH265(wl::MediaSettings::read(defaults)));
}

} // namespace
