#pragma once
// The sink the helper's peer puts on the received video track: each decoded frame goes
// on as a DecodedPicture (on WebRTC's decoding thread, one frame at a time), so that what
// shows it needs nothing of WebRTC.

#include "media/DecodedPicture.h"

#include <api/video/video_frame.h>
#include <api/video/video_sink_interface.h>

#include <functional>

namespace wl {

// The frame's planes and colour coding (BT.709 full range unless the frame names its
// own matrix and range); a picture without planes when its buffer can't be read as 4:2:0.
DecodedPicture decodedPicture(const webrtc::VideoFrame& frame);

class DecodedPictureSink final : public rtc::VideoSinkInterface<webrtc::VideoFrame> {
public:
    explicit DecodedPictureSink(std::function<void(const DecodedPicture&)> show) : show_(std::move(show)) { }
    void OnFrame(const webrtc::VideoFrame& frame) override { show_(decodedPicture(frame)); }

private:
    const std::function<void(const DecodedPicture&)> show_;
};

} // namespace wl
