#pragma once
// What this process's own encoders have handed to WebRTC: how many frames, and the
// quantiser of the last one. The screen capturer keeps sending a picture that no longer
// changes until the encoder has worked on it enough to show it sharp, however long the
// connection took to stand. Any thread.

namespace wl {

long long encodedFrameCount();
// The last frame's quantiser (0 finest to 51 coarsest), -1 when the encoder didn't say.
int lastEncodedQp();
void countEncodedFrame(int qp);

} // namespace wl
