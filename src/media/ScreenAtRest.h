#pragma once
// Whether the screen capture is sending its picture at rest: sharpened and unchanged, it
// goes out again only now and then (ScreenCapturer). Our encoders keep their bitrate for
// such frames (FfmpegVideoEncoder). Process-wide, like the key-frame request: one
// capture runs at a time. The capture thread sets it before it hands each frame on; any
// thread reads it.

namespace wl {

void setScreenAtRest(bool atRest);
bool screenAtRest();

} // namespace wl
