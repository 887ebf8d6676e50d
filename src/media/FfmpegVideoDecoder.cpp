#include "media/FfmpegVideoDecoder.h"

#include "platform/Log.h"

#include <api/video/color_space.h>
#include <api/video/encoded_image.h>
#include <api/video/i010_buffer.h>
#include <api/video/i420_buffer.h>
#include <api/video/video_frame.h>
#include <common_video/include/video_frame_buffer.h>
#include <modules/video_coding/include/video_error_codes.h>
#include <rtc_base/time_utils.h>

#include <libyuv/convert.h>

#include <algorithm>
#include <filesystem>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/hwcontext.h>
#include <libavutil/pixdesc.h>
}

namespace wl {

namespace {

AVPixelFormat pickFormat(AVCodecContext* context, const AVPixelFormat* formats)
{
    bool hardware = context->hw_device_ctx != nullptr;
    for (const AVPixelFormat* f = formats; *f != AV_PIX_FMT_NONE; ++f) {
        if (hardware && *f == AV_PIX_FMT_VAAPI)
            return *f;
    }
    // Software: the first format that is not a hardware surface.
    for (const AVPixelFormat* f = formats; *f != AV_PIX_FMT_NONE; ++f) {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(*f);
        if (d && !(d->flags & AV_PIX_FMT_FLAG_HWACCEL))
            return *f;
    }
    return formats[0];
}

// A VAAPI device when the machine has a render node that answers; else null.
AVBufferRef* openVaapi()
{
    std::error_code error;
    if (!std::filesystem::exists("/dev/dri/renderD128", error))
        return nullptr;
    AVBufferRef* device = nullptr;
    if (av_hwdevice_ctx_create(&device, AV_HWDEVICE_TYPE_VAAPI, "/dev/dri/renderD128", nullptr, 0) < 0)
        return nullptr;
    return device;
}

// Copies a 10-bit semi-planar frame (P010: samples in the high bits) into I010.
rtc::scoped_refptr<webrtc::I010Buffer> fromP010(const AVFrame* f)
{
    auto out = webrtc::I010Buffer::Create(f->width, f->height);
    for (int y = 0; y < f->height; ++y) {
        auto* src = reinterpret_cast<const uint16_t*>(f->data[0] + y * f->linesize[0]);
        uint16_t* dst = out->MutableDataY() + y * out->StrideY();
        for (int x = 0; x < f->width; ++x)
            dst[x] = src[x] >> 6;
    }
    for (int y = 0; y < (f->height + 1) / 2; ++y) {
        auto* src = reinterpret_cast<const uint16_t*>(f->data[1] + y * f->linesize[1]);
        uint16_t* u = out->MutableDataU() + y * out->StrideU();
        uint16_t* v = out->MutableDataV() + y * out->StrideV();
        for (int x = 0; x < (f->width + 1) / 2; ++x) {
            u[x] = src[2 * x] >> 6;
            v[x] = src[2 * x + 1] >> 6;
        }
    }
    return out;
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

FfmpegVideoDecoder::FfmpegVideoDecoder(int codecId, std::string name) : codecId_(codecId), name_(std::move(name))
{
    quietLibav();
}

FfmpegVideoDecoder::~FfmpegVideoDecoder()
{
    close();
}

void FfmpegVideoDecoder::close()
{
    if (context_)
        avcodec_free_context(&context_);
    if (packet_)
        av_packet_free(&packet_);
    if (frame_)
        av_frame_free(&frame_);
    if (transfer_)
        av_frame_free(&transfer_);
    if (hardware_)
        av_buffer_unref(&hardware_);
    haveKeyFrame_ = false;
}

bool FfmpegVideoDecoder::Configure(const Settings& settings)
{
    close();
    const AVCodec* codec = avcodec_find_decoder(AVCodecID(codecId_));
    if (!codec) {
        Log::line("Wickerlane: video decoder " + name_ + " is not available");
        return false;
    }
    context_ = avcodec_alloc_context3(codec);
    packet_ = av_packet_alloc();
    frame_ = av_frame_alloc();
    transfer_ = av_frame_alloc();
    if (!context_ || !packet_ || !frame_ || !transfer_) {
        close();
        return false;
    }
    context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
    // Slice (wavefront) threads only: frame threads would hold pictures back.
    context_->thread_type = FF_THREAD_SLICE;
    context_->thread_count = std::clamp(settings.number_of_cores(), 1, 4);
    context_->get_format = pickFormat;
    hardware_ = openVaapi();
    if (hardware_)
        context_->hw_device_ctx = av_buffer_ref(hardware_);
    int result = avcodec_open2(context_, codec, nullptr);
    if (result < 0 && hardware_) {
        // The device is there but cannot decode this: software it is.
        avcodec_free_context(&context_);
        av_buffer_unref(&hardware_);
        context_ = avcodec_alloc_context3(codec);
        context_->flags |= AV_CODEC_FLAG_LOW_DELAY;
        context_->thread_type = FF_THREAD_SLICE;
        context_->thread_count = std::clamp(settings.number_of_cores(), 1, 4);
        context_->get_format = pickFormat;
        result = avcodec_open2(context_, codec, nullptr);
    }
    if (result < 0) {
        Log::line("Wickerlane: could not open video decoder " + name_);
        close();
        return false;
    }
    return true;
}

int32_t FfmpegVideoDecoder::RegisterDecodeCompleteCallback(webrtc::DecodedImageCallback* callback)
{
    callback_ = callback;
    return WEBRTC_VIDEO_CODEC_OK;
}

int32_t FfmpegVideoDecoder::Release()
{
    close();
    return WEBRTC_VIDEO_CODEC_OK;
}

webrtc::VideoDecoder::DecoderInfo FfmpegVideoDecoder::GetDecoderInfo() const
{
    DecoderInfo info;
    info.implementation_name = name_;
    info.is_hardware_accelerated = hardware_ != nullptr;
    return info;
}

int32_t FfmpegVideoDecoder::Decode(const webrtc::EncodedImage& image, bool, int64_t)
{
    if (!context_ || !callback_)
        return WEBRTC_VIDEO_CODEC_UNINITIALIZED;
    if (!image.data() || image.size() == 0)
        return WEBRTC_VIDEO_CODEC_ERR_PARAMETER;
    if (image._frameType == webrtc::VideoFrameType::kVideoFrameKey)
        haveKeyFrame_ = true;
    if (!haveKeyFrame_)
        return WEBRTC_VIDEO_CODEC_ERROR; // asks the sender for a key frame

    int64_t started = rtc::TimeMillis();
    packet_->data = const_cast<uint8_t*>(image.data());
    packet_->size = int(image.size());
    packet_->pts = image.Timestamp();
    int result = avcodec_send_packet(context_, packet_);
    packet_->data = nullptr;
    packet_->size = 0;
    if (result < 0) {
        haveKeyFrame_ = false;
        return WEBRTC_VIDEO_CODEC_ERROR;
    }
    int delivered = 0;
    while (true) {
        result = avcodec_receive_frame(context_, frame_);
        if (result == AVERROR(EAGAIN) || result == AVERROR_EOF)
            break;
        if (result < 0) {
            haveKeyFrame_ = false;
            return WEBRTC_VIDEO_CODEC_ERROR;
        }
        int status = deliver(frame_, image);
        av_frame_unref(frame_);
        if (status != WEBRTC_VIDEO_CODEC_OK)
            return status;
        ++delivered;
    }
    (void)started;
    return WEBRTC_VIDEO_CODEC_OK;
}

int FfmpegVideoDecoder::deliver(AVFrame* frame, const webrtc::EncodedImage& image)
{
    AVFrame* source = frame;
    if (frame->format == AV_PIX_FMT_VAAPI) {
        av_frame_unref(transfer_);
        if (av_hwframe_transfer_data(transfer_, frame, 0) < 0)
            return WEBRTC_VIDEO_CODEC_ERROR;
        transfer_->color_range = frame->color_range;
        source = transfer_;
    }
    rtc::scoped_refptr<webrtc::VideoFrameBuffer> buffer;
    const int w = source->width;
    const int h = source->height;
    switch (source->format) {
    case AV_PIX_FMT_YUV420P:
    case AV_PIX_FMT_YUVJ420P: {
        // Hand the decoder's planes over without a copy; the clone keeps them alive.
        AVFrame* kept = av_frame_clone(source);
        if (!kept)
            return WEBRTC_VIDEO_CODEC_MEMORY;
        buffer = webrtc::WrapI420Buffer(w, h, kept->data[0], kept->linesize[0], kept->data[1], kept->linesize[1],
                                        kept->data[2], kept->linesize[2], [kept]() mutable { av_frame_free(&kept); });
        break;
    }
    case AV_PIX_FMT_YUV420P10LE: {
        auto out = webrtc::I010Buffer::Create(w, h);
        libyuv::I010Copy(reinterpret_cast<const uint16_t*>(source->data[0]), source->linesize[0] / 2,
                         reinterpret_cast<const uint16_t*>(source->data[1]), source->linesize[1] / 2,
                         reinterpret_cast<const uint16_t*>(source->data[2]), source->linesize[2] / 2,
                         out->MutableDataY(), out->StrideY(), out->MutableDataU(), out->StrideU(), out->MutableDataV(),
                         out->StrideV(), w, h);
        buffer = out;
        break;
    }
    case AV_PIX_FMT_NV12: {
        auto out = webrtc::I420Buffer::Create(w, h);
        libyuv::NV12ToI420(source->data[0], source->linesize[0], source->data[1], source->linesize[1],
                           out->MutableDataY(), out->StrideY(), out->MutableDataU(), out->StrideU(),
                           out->MutableDataV(), out->StrideV(), w, h);
        buffer = out;
        break;
    }
    case AV_PIX_FMT_P010LE: buffer = fromP010(source); break;
    default:
        Log::line(std::string("Wickerlane: video decoder ") + name_ + " produced an unexpected pixel format: " +
                  (av_get_pix_fmt_name(AVPixelFormat(source->format))
                       ? av_get_pix_fmt_name(AVPixelFormat(source->format))
                       : "?"));
        return WEBRTC_VIDEO_CODEC_ERROR;
    }

    bool full = source->color_range == AVCOL_RANGE_JPEG || source->format == AV_PIX_FMT_YUVJ420P;
    webrtc::ColorSpace colorSpace(webrtc::ColorSpace::PrimaryID::kBT709, webrtc::ColorSpace::TransferID::kBT709,
                                  webrtc::ColorSpace::MatrixID::kSMPTE170M,
                                  full ? webrtc::ColorSpace::RangeID::kFull : webrtc::ColorSpace::RangeID::kLimited);
    webrtc::VideoFrame decoded = webrtc::VideoFrame::Builder()
                                     .set_video_frame_buffer(buffer)
                                     .set_timestamp_rtp(image.Timestamp())
                                     .set_color_space(colorSpace)
                                     .build();
    callback_->Decoded(decoded, absl::nullopt, absl::nullopt);
    return WEBRTC_VIDEO_CODEC_OK;
}

} // namespace wl
