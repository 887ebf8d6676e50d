#include "media/FfmpegVideoEncoder.h"

#include "platform/Log.h"

#include <api/video/encoded_image.h>
#include <api/video/i010_buffer.h>
#include <api/video/video_frame_buffer.h>
#include <modules/video_coding/include/video_error_codes.h>
#include <rtc_base/time_utils.h>

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace wl {

namespace {

std::string averror(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// Keeps a WebRTC frame buffer alive while libavcodec holds a reference to its planes.
void releaseBuffer(void* opaque, uint8_t*)
{
    delete static_cast<rtc::scoped_refptr<webrtc::VideoFrameBuffer>*>(opaque);
}

// libavcodec's chatter (encoder statistics, banners) stays out of the log.
void quietLibav()
{
    static const bool once = [] {
        av_log_set_level(AV_LOG_ERROR);
        return true;
    }();
    (void)once;
}

} // namespace

FfmpegVideoEncoder::FfmpegVideoEncoder(EncoderSettings settings, std::shared_ptr<VideoFeedback> feedback)
    : settings_(std::move(settings)), feedback_(std::move(feedback))
{
    quietLibav();
}

FfmpegVideoEncoder::~FfmpegVideoEncoder()
{
    close();
}

int FfmpegVideoEncoder::InitEncode(const webrtc::VideoCodec* codecSettings, const webrtc::VideoEncoder::Settings&)
{
    if (!codecSettings || codecSettings->width < 2 || codecSettings->height < 2)
        return WEBRTC_VIDEO_CODEC_ERR_PARAMETER;
    close();
    mode_ = codecSettings->mode;
    maxFrameRate_ = codecSettings->maxFramerate > 0 ? int(codecSettings->maxFramerate) : 30;
    frameRate_ = maxFrameRate_;
    int64_t start = int64_t(codecSettings->startBitrate) * 1000;
    if (start <= 0)
        start = int64_t(codecSettings->maxBitrate) * 1000;
    if (start <= 0)
        start = 1'000'000;
    targetBitrate_ = start;
    if (!open(codecSettings->width, codecSettings->height, false))
        return WEBRTC_VIDEO_CODEC_ERROR;
    initialised_ = true;
    return WEBRTC_VIDEO_CODEC_OK;
}

int32_t FfmpegVideoEncoder::RegisterEncodeCompleteCallback(webrtc::EncodedImageCallback* callback)
{
    callback_ = callback;
    return WEBRTC_VIDEO_CODEC_OK;
}

int32_t FfmpegVideoEncoder::Release()
{
    close();
    initialised_ = false;
    return WEBRTC_VIDEO_CODEC_OK;
}

void FfmpegVideoEncoder::close()
{
    if (context_)
        avcodec_free_context(&context_);
    if (packet_)
        av_packet_free(&packet_);
    if (libraryInUse_) {
        libraryInUse_ = false;
        if (settings_.libraryDone)
            settings_.libraryDone();
    }
}

bool FfmpegVideoEncoder::open(int width, int height, bool tenBit)
{
    close();
    const AVCodec* codec = avcodec_find_encoder_by_name(settings_.codecName.c_str());
    if (!codec) {
        Log::line("Wickerlane: video encoder " + settings_.codecName + " is not available");
        return false;
    }
    context_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    if (!context_ || !packet_) {
        close();
        return false;
    }
    int fps = std::max(1, int(std::lround(frameRate_)));
    context_->width = width;
    context_->height = height;
    context_->pix_fmt = tenBit ? AV_PIX_FMT_YUV420P10LE : AV_PIX_FMT_YUV420P;
    context_->color_range = AVCOL_RANGE_JPEG;
    context_->colorspace = AVCOL_SPC_SMPTE170M; // what the capturer's full-range conversion uses
    context_->color_primaries = AVCOL_PRI_BT709;
    context_->color_trc = AVCOL_TRC_BT709;
    context_->time_base = AVRational{1, fps};
    context_->framerate = AVRational{fps, 1};
    context_->gop_size = -1;
    context_->max_b_frames = 0;
    context_->thread_count = 0; // the codec's own choice (x264: sliced threads, no added delay)
    context_->bit_rate = targetBitrate_;
    context_->rc_max_rate = targetBitrate_;
    // About one second of VBV: sharp pictures after a change, no long bursts.
    context_->rc_buffer_size = int(std::min<int64_t>(targetBitrate_, INT32_MAX));
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : settings_.options)
        av_dict_set(&options, key.c_str(), value.c_str(), 0);
    if (tenBit)
        av_dict_set(&options, "profile", "main10", 0);
    if (!libraryInUse_ && settings_.libraryInUse) {
        settings_.libraryInUse();
        libraryInUse_ = true;
    }
    int result = avcodec_open2(context_, codec, &options);
    av_dict_free(&options);
    if (result < 0) {
        Log::line("Wickerlane: could not open video encoder " + settings_.codecName + ": " + averror(result));
        close();
        return false;
    }
    width_ = width;
    height_ = height;
    tenBit_ = tenBit;
    bitrate_ = targetBitrate_;
    framesOffRate_ = 0;
    ++opens_;
    return true;
}

void FfmpegVideoEncoder::SetRates(const RateControlParameters& parameters)
{
    int64_t bitrate = int64_t(parameters.bitrate.get_sum_bps());
    if (bitrate <= 0)
        return; // paused: frames stop coming anyway
    targetBitrate_ = bitrate;
    if (parameters.framerate_fps > 0)
        frameRate_ = std::min<double>(parameters.framerate_fps, std::max(maxFrameRate_, 1));
    if (context_ && settings_.reopenOnBitrateChange <= 0) {
        // libx264 takes a new bitrate on its next frame.
        context_->bit_rate = bitrate;
        context_->rc_max_rate = bitrate;
        context_->rc_buffer_size = int(std::min<int64_t>(bitrate, INT32_MAX));
        bitrate_ = bitrate;
    }
}

int32_t FfmpegVideoEncoder::Encode(const webrtc::VideoFrame& frame,
                                   const std::vector<webrtc::VideoFrameType>* frameTypes)
{
    if (!initialised_ || !callback_)
        return WEBRTC_VIDEO_CODEC_UNINITIALIZED;

    bool key = feedback_->takeKeyFrameRequest();
    if (frameTypes) {
        for (auto type : *frameTypes)
            key = key || type == webrtc::VideoFrameType::kVideoFrameKey;
    }

    rtc::scoped_refptr<webrtc::VideoFrameBuffer> buffer = frame.video_frame_buffer();
    bool tenBitInput = settings_.tenBitCapable && buffer->type() == webrtc::VideoFrameBuffer::Type::kI010;
    if (!tenBitInput && buffer->type() != webrtc::VideoFrameBuffer::Type::kI420) {
        auto converted = buffer->ToI420();
        if (!converted)
            return WEBRTC_VIDEO_CODEC_ERROR;
        buffer = converted;
    }

    const bool atRest = feedback_->screenAtRest();
    framesSinceRest_ = atRest ? 0 : std::min(framesSinceRest_ + 1, INT_MAX / 2);

    bool reopen = !context_ || buffer->width() != width_ || buffer->height() != height_ || tenBitInput != tenBit_;
    if (!reopen && atRest) {
        framesOffRate_ = 0;
    } else if (!reopen && settings_.reopenOnBitrateChange > 0 && bitrate_ > 0) {
        double ratio = double(targetBitrate_) / double(bitrate_);
        if (settings_.reopenAtOnceOnDrop > 0 && ratio <= 1.0 - settings_.reopenAtOnceOnDrop &&
            framesSinceRest_ > settings_.holdFrames) {
            reopen = true;
        } else if (ratio <= 1.0 - settings_.reopenOnBitrateChange ||
                   (settings_.reopenOnBitrateRise > 0 && ratio >= 1.0 + settings_.reopenOnBitrateRise)) {
            reopen = ++framesOffRate_ >= settings_.holdFrames;
        } else {
            framesOffRate_ = 0;
        }
    }
    if (reopen) {
        if (!open(buffer->width(), buffer->height(), tenBitInput))
            return WEBRTC_VIDEO_CODEC_ERROR;
        key = true; // a fresh encoder starts with a key frame anyway
    }

    AVFrame* av = av_frame_alloc();
    if (!av)
        return WEBRTC_VIDEO_CODEC_MEMORY;
    av->format = context_->pix_fmt;
    av->width = width_;
    av->height = height_;
    av->color_range = AVCOL_RANGE_JPEG;
    if (tenBitInput) {
        const webrtc::I010BufferInterface* planes = buffer->GetI010();
        av->data[0] = reinterpret_cast<uint8_t*>(const_cast<uint16_t*>(planes->DataY()));
        av->data[1] = reinterpret_cast<uint8_t*>(const_cast<uint16_t*>(planes->DataU()));
        av->data[2] = reinterpret_cast<uint8_t*>(const_cast<uint16_t*>(planes->DataV()));
        av->linesize[0] = planes->StrideY() * 2;
        av->linesize[1] = planes->StrideU() * 2;
        av->linesize[2] = planes->StrideV() * 2;
    } else {
        const webrtc::I420BufferInterface* planes = buffer->GetI420();
        av->data[0] = const_cast<uint8_t*>(planes->DataY());
        av->data[1] = const_cast<uint8_t*>(planes->DataU());
        av->data[2] = const_cast<uint8_t*>(planes->DataV());
        av->linesize[0] = planes->StrideY();
        av->linesize[1] = planes->StrideU();
        av->linesize[2] = planes->StrideV();
    }
    // Reference-count the planes instead of letting libavcodec copy them.
    auto* holder = new rtc::scoped_refptr<webrtc::VideoFrameBuffer>(buffer);
    av->buf[0] = av_buffer_create(av->data[0], 1, releaseBuffer, holder, AV_BUFFER_FLAG_READONLY);
    if (!av->buf[0]) {
        delete holder;
        av_frame_free(&av);
        return WEBRTC_VIDEO_CODEC_MEMORY;
    }
    av->pts = nextPts_++;
    av->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    int result = sendFrame(av, frame, key);
    av_frame_free(&av);
    return result;
}

int FfmpegVideoEncoder::sendFrame(AVFrame* av, const webrtc::VideoFrame& source, bool)
{
    int64_t started = rtc::TimeMillis();
    int result = avcodec_send_frame(context_, av);
    if (result < 0) {
        Log::line("Wickerlane: video encoder " + settings_.codecName + " refused a frame: " + averror(result));
        return WEBRTC_VIDEO_CODEC_ERROR;
    }
    while (true) {
        result = avcodec_receive_packet(context_, packet_);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            break;
        if (result < 0) {
            Log::line("Wickerlane: video encoder " + settings_.codecName + " failed: " + averror(result));
            return WEBRTC_VIDEO_CODEC_ERROR;
        }
        bool keyFrame = (packet_->flags & AV_PKT_FLAG_KEY) != 0;
        webrtc::EncodedImage image;
        image.SetEncodedData(webrtc::EncodedImageBuffer::Create(packet_->data, size_t(packet_->size)));
        image._encodedWidth = uint32_t(width_);
        image._encodedHeight = uint32_t(height_);
        image.SetTimestamp(source.timestamp());
        image.ntp_time_ms_ = source.ntp_time_ms();
        image.capture_time_ms_ = source.render_time_ms();
        image.rotation_ = source.rotation();
        image._frameType = keyFrame ? webrtc::VideoFrameType::kVideoFrameKey : webrtc::VideoFrameType::kVideoFrameDelta;
        image.content_type_ = mode_ == webrtc::VideoCodecMode::kScreensharing ? webrtc::VideoContentType::SCREENSHARE
                                                                              : webrtc::VideoContentType::UNSPECIFIED;
        image.SetEncodeTime(started, rtc::TimeMillis());
        image.SetColorSpace(source.color_space());
        // The encoder's quantiser for the frame, where it tells it (libx264 and libx265 do).
        image.qp_ = -1;
        std::size_t statsSize = 0;
        if (const uint8_t* stats = av_packet_get_side_data(packet_, AV_PKT_DATA_QUALITY_STATS, &statsSize);
            stats && statsSize >= 4) {
            const int quality =
                int(uint32_t(stats[0]) | uint32_t(stats[1]) << 8 | uint32_t(stats[2]) << 16 | uint32_t(stats[3]) << 24);
            image.qp_ = (quality + FF_QP2LAMBDA / 2) / FF_QP2LAMBDA;
        }
        if (settings_.showAtOnce) {
            // Min and max playout delay 0 (the RTP playout-delay extension): the receiver
            // decodes and shows each frame as soon as it is complete instead of holding it
            // for its jitter estimate. A person steering a remote screen needs the newest
            // picture now; smoothness matters less than for camera video.
            image.playout_delay_ = webrtc::VideoPlayoutDelay(0, 0);
        }
        av_packet_unref(packet_);

        webrtc::CodecSpecificInfo info;
        info.codecType = settings_.codecType;
        if (settings_.codecType == webrtc::kVideoCodecH265) {
            info.codecSpecific.H265.packetization_mode = webrtc::H265PacketizationMode::NonInterleaved;
            info.codecSpecific.H265.idr_frame = keyFrame;
        } else {
            info.codecSpecific.H264.packetization_mode = webrtc::H264PacketizationMode::NonInterleaved;
            info.codecSpecific.H264.temporal_idx = webrtc::kNoTemporalIdx;
            info.codecSpecific.H264.base_layer_sync = false;
            info.codecSpecific.H264.idr_frame = keyFrame;
        }
        feedback_->countEncodedFrame(image.qp_);
        auto delivered = callback_->OnEncodedImage(image, &info);
        if (delivered.error != webrtc::EncodedImageCallback::Result::OK)
            return WEBRTC_VIDEO_CODEC_ERROR;
    }
    return WEBRTC_VIDEO_CODEC_OK;
}

webrtc::VideoEncoder::EncoderInfo FfmpegVideoEncoder::GetEncoderInfo() const
{
    EncoderInfo info;
    info.supports_native_handle = false;
    info.implementation_name = settings_.codecName;
    info.is_hardware_accelerated = false;
    info.supports_simulcast = false;
    info.scaling_settings = VideoEncoder::ScalingSettings::kOff;
    info.requested_resolution_alignment = 2;
    info.preferred_pixel_formats = {webrtc::VideoFrameBuffer::Type::kI420};
    if (settings_.tenBitCapable)
        info.preferred_pixel_formats.push_back(webrtc::VideoFrameBuffer::Type::kI010);
    return info;
}

} // namespace wl
