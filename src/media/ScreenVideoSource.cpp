#include "media/ScreenVideoSource.h"

namespace wl {

namespace {
class ConcreteScreenVideoSource : public ScreenVideoSource {
public:
    ConcreteScreenVideoSource() = default;
};
} // namespace

rtc::scoped_refptr<ScreenVideoSource> ScreenVideoSource::create()
{
    return rtc::make_ref_counted<ConcreteScreenVideoSource>();
}

void ScreenVideoSource::pushFrame(const webrtc::VideoFrame& frame)
{
    int adaptedWidth = 0, adaptedHeight = 0, cropWidth = 0, cropHeight = 0, cropX = 0, cropY = 0;
    if (!AdaptFrame(frame.width(), frame.height(), frame.timestamp_us(), &adaptedWidth, &adaptedHeight, &cropWidth,
                    &cropHeight, &cropX, &cropY))
        return;
    ++passed_;
    if (adaptedWidth == frame.width() && adaptedHeight == frame.height()) {
        OnFrame(frame);
        return;
    }
    auto scaled =
        frame.video_frame_buffer()->CropAndScale(cropX, cropY, cropWidth, cropHeight, adaptedWidth, adaptedHeight);
    webrtc::VideoFrame copy(frame);
    copy.set_video_frame_buffer(scaled);
    OnFrame(copy);
}

} // namespace wl
