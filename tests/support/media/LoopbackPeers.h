#pragma once
// Two real peer connections of the shared factory (each through the program's peer
// link), connected on 127.0.0.1 inside the test process, the way a session sets them up: the receiving side offers to
// receive video (H.265 first, then H.264), the sending side answers with a screen track.

#include "media/ScreenVideoSource.h"
#include "media/MediaEngine.h"
#include "media/MediaSettings.h"
#include "media/PeerFactory.h"
#include "media/VideoFeedback.h"
#include "signalling/PeerLink.h"

#include <api/peer_connection_interface.h>
#include <api/stats/rtcstats_objects.h>
#include <api/video/video_frame.h>
#include <api/video/video_sink_interface.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace wl::test {

// An engine for loopback peers that carry sound: on 127.0.0.1 only, every factory records
// pulsed noise and discards what it plays (WebRTC's test device), so audio tracks really
// send, as they do with the program's own devices. Made on first use, kept for the process.
MediaEngine& noisyEngine();

// Collects decoded frames; any thread.
class FrameSink : public rtc::VideoSinkInterface<webrtc::VideoFrame> {
public:
    void OnFrame(const webrtc::VideoFrame& frame) override;
    // Waits until pred(frame) holds for a delivered frame (checked on each new one).
    std::optional<webrtc::VideoFrame> waitFor(std::function<bool(const webrtc::VideoFrame&)> pred,
                                              std::chrono::milliseconds timeout);
    long long count() const;
    std::optional<webrtc::VideoFrame> last() const;
    // Called on every frame on the decoding thread, with its arrival time (µs). Set it
    // from any thread; once this returns, the previous callback is no longer running.
    void setOnFrame(std::function<void(const webrtc::VideoFrame&, int64_t)> callback);

private:
    std::mutex callbackLock_;
    std::function<void(const webrtc::VideoFrame&, int64_t)> onFrame_;
    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::optional<webrtc::VideoFrame> last_;
    long long count_ = 0;
};

struct StreamStats {
    std::string codec; // mime type, e.g. "video/H265"
    long long framesDecoded = 0;
    long long keyFramesDecoded = 0;
    long long bytesReceived = 0;
    std::string decoder;
    // Where the time goes (ms per frame, averaged since the stream started): waiting in
    // the jitter buffer, decoding, and (sender side) encoding.
    double jitterBufferMsPerFrame = 0;
    double jitterTargetMsPerFrame = 0;
    double decodeMsPerFrame = 0;
    double encodeMsPerFrame = 0;
    long long keyFramesEncoded = 0;
};

struct AudioStats {
    std::string codec; // mime type, e.g. "audio/opus"
    long long packetsReceived = 0;
    long long bytesReceived = 0;
};

class LoopbackPeers {
public:
    // onlyCodec: when set, the receiver offers that codec alone (e.g. "VP8" for the
    // library's own codec as a reference in benchmarks).
    // media: the settings the peers are made with (always on 127.0.0.1 only).
    // engine: made with loopbackOnly (nothing leaves the machine); feedback: the sending
    // side's encoders', shared with the capture that feeds the source.
    LoopbackPeers(MediaEngine& engine, rtc::scoped_refptr<ScreenVideoSource> source,
                  std::shared_ptr<VideoFeedback> feedback, std::string onlyCodec = {}, MediaSettings media = {});
    ~LoopbackPeers();

    // Offer/answer and candidates; true when both sides are connected.
    bool connect(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    FrameSink& sink() { return sink_; }
    // The receiver's inbound video stream, with the sender's encode time filled in.
    StreamStats receiverStats();
    // Set before connect(): each side also sends an audio track from the factory's audio
    // device, so audio flows both ways beside the video.
    bool withAudio = false;
    // Set before connect(): the receiving side also opens an ordered data channel, as the
    // helper opens "guide"; both ends are ready when connect() returns true.
    bool withDataChannel = false;
    std::shared_ptr<DataChannelLink> receiverChannel() { return receiverChannel_; }
    std::shared_ptr<DataChannelLink> senderChannel();
    // The inbound audio stream of one side (sender() or receiver()).
    AudioStats inboundAudio(webrtc::PeerConnectionInterface* side);
    webrtc::PeerConnectionInterface* sender();
    webrtc::PeerConnectionInterface* receiver();

private:
    struct Side;
    std::unique_ptr<Side> sender_;
    std::unique_ptr<Side> receiver_;
    rtc::scoped_refptr<ScreenVideoSource> source_;
    rtc::scoped_refptr<webrtc::VideoTrackInterface> receivedTrack_;
    FrameSink sink_;
    std::string onlyCodec_;
    MediaSettings media_;
    MediaEngine& engine_;
    std::shared_ptr<VideoFeedback> feedback_;
    std::shared_ptr<PeerFactory> senderFactory_;
    std::shared_ptr<PeerFactory> receiverFactory_;
    std::shared_ptr<DataChannelLink> receiverChannel_;
};

} // namespace wl::test
