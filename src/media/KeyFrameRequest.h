#pragma once
// The process-wide key-frame request: the host controller raises it when the viewer asks;
// our encoders take (read and clear) it before their next frame and make that frame a
// key frame; the screen capturer peeks at it to send a frame even when nothing changed.
// One atomic flag, safe from any thread.

namespace wl {

// Raises the request.
void requestKeyFrame();
// Whether a request is raised, leaving it raised.
bool keyFrameRequestPending();
// Reads and clears the request in one step.
bool takeKeyFrameRequest();

} // namespace wl
