#include "media/DecodedPictureSink.h"

#include <api/video/i010_buffer.h>
#include <api/video/i420_buffer.h>

namespace wl {

namespace {

// Holds a buffer of the library's for as long as a picture points into it.
template <typename Buffer>
std::shared_ptr<const void> holding(rtc::scoped_refptr<Buffer> buffer)
{
    const void* raw = buffer.get();
    return std::shared_ptr<const void>(raw, [buffer = std::move(buffer)](const void*) {});
}

} // namespace

DecodedPicture decodedPicture(const webrtc::VideoFrame& frame)
{
    DecodedPicture picture;
    rtc::scoped_refptr<webrtc::VideoFrameBuffer> buffer = frame.video_frame_buffer();
    if (!buffer)
        return picture;
    picture.width = buffer->width();
    picture.height = buffer->height();
    if (buffer->type() == webrtc::VideoFrameBuffer::Type::kI010) {
        const webrtc::I010BufferInterface* i010 = buffer->GetI010();
        picture.depth = DecodedPicture::Depth::ten;
        picture.planes[0] = reinterpret_cast<const uint8_t*>(i010->DataY());
        picture.planes[1] = reinterpret_cast<const uint8_t*>(i010->DataU());
        picture.planes[2] = reinterpret_cast<const uint8_t*>(i010->DataV());
        picture.strides[0] = i010->StrideY() * 2;
        picture.strides[1] = i010->StrideU() * 2;
        picture.strides[2] = i010->StrideV() * 2;
        picture.memory = holding(buffer);
    } else {
        rtc::scoped_refptr<webrtc::I420BufferInterface> i420 = buffer->ToI420();
        if (!i420)
            return picture;
        picture.planes[0] = i420->DataY();
        picture.planes[1] = i420->DataU();
        picture.planes[2] = i420->DataV();
        picture.strides[0] = i420->StrideY();
        picture.strides[1] = i420->StrideU();
        picture.strides[2] = i420->StrideV();
        picture.memory = holding(i420);
    }

    // BT.709 full range, unless the frame says otherwise (the screen capture's full-range
    // conversion uses the SMPTE 170M matrix and says so).
    if (const auto space = frame.color_space()) {
        using M = webrtc::ColorSpace::MatrixID;
        if (space->matrix() == M::kSMPTE170M || space->matrix() == M::kBT470BG)
            picture.matrix = DecodedPicture::Matrix::smpte170m;
        else if (space->matrix() == M::kBT2020_NCL)
            picture.matrix = DecodedPicture::Matrix::bt2020;
        picture.fullRange = space->range() != webrtc::ColorSpace::RangeID::kLimited;
    }
    return picture;
}

} // namespace wl
