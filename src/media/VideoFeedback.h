#pragma once
// What one host session's screen capture and the encoders of its connection tell each
// other: the viewer's request for a key frame (raised by the session, taken by the next
// frame the encoder makes, peeked at by the capture so that a frame goes out even on a
// still screen), how many frames the encoders have made and the quantiser of the last
// (the capture sends a picture at rest again until the encoder has shown it sharp), and
// whether the picture the capture hands on is at rest (the encoder keeps its rate for
// those). Each session has its own: two sessions never see each other's. Any thread.

#include <atomic>

namespace wl {

class VideoFeedback {
public:
    // The key-frame request: raise it; see whether it is raised; read and clear it in one step.
    void requestKeyFrame() { keyFrame_.store(true); }
    bool keyFrameRequestPending() const { return keyFrame_.load(); }
    bool takeKeyFrameRequest() { return keyFrame_.exchange(false); }

    // A frame the encoder handed on, with its quantiser (0 finest to 51 coarsest, -1 when
    // the encoder didn't say).
    void countEncodedFrame(int qp)
    {
        lastQp_.store(qp);
        encoded_.fetch_add(1);
    }
    long long encodedFrameCount() const { return encoded_.load(); }
    int lastEncodedQp() const { return lastQp_.load(); }

    // Set by the capture thread before it hands each frame on.
    void setScreenAtRest(bool atRest) { atRest_.store(atRest); }
    bool screenAtRest() const { return atRest_.load(); }

private:
    std::atomic<bool> keyFrame_{false};
    std::atomic<long long> encoded_{0};
    std::atomic<int> lastQp_{-1};
    std::atomic<bool> atRest_{false};
};

} // namespace wl
