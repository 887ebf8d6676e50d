#pragma once
// The host's side of one live session's peer connection. It answers the helper's
// offer, sends the screen as the video track "screen0" and the host's sound as
// "sound0" (stream "screen"), starts and stops the screen capture, trades candidates
// through the session's signalling transport, carries session events both ways on the
// data channel the helper opens ("guide"), and gives the connection up as lost only
// after the failure grace. Every 3 seconds it reads the statistics: they tell the codec
// in use (which decides 10-bit capture), they adapt the picture's size and frame-rate
// ceiling to the link (VideoAdaptation), and they make a log line. Every 15 seconds it
// has the memory malloc keeps free handed back to the system (MemoryTrim, off the main
// thread).
//
// Main thread only; WebRTC's callbacks reach it through its peer link. Callbacks to
// the owner run on the main thread. Each session gets a new peer.

#include "media/MediaSettings.h"
#include "platform/Defaults.h"
#include "platform/OneShotTimer.h"
#include "platform/ScreenSource.h"
#include "protocol/ICEServer.h"
#include "protocol/SessionEvent.h"
#include "protocol/SignalMessage.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wl {

class CaptureExclusion;
class MediaEngine;
class SharedDisplay;
class SignalTransport;
struct StatsReading;

class HostPeer final : public QObject, public std::enable_shared_from_this<HostPeer> {
    Q_OBJECT
public:
    // The ICE connection state, as WebRTC numbers it.
    enum class ConnectionState { fresh = 0, checking, connected, completed, failed, disconnected, closed };

    static constexpr int kStatsIntervalMs = 3000;
    static constexpr int kGoodbyeDelayMs = 500;

    // Builds the peer connection at once; nothing is sent until an offer is applied.
    // timers: the failure grace and the statistics; screens: the screen the capture
    // reads; exclusion: the windows it blacks out; shared: the display the capture starts on; defaults: the settings,
    // read once here (WebRTC's and the capture's threads read none). The engine makes the peer's own factory, whose
    // encoders answer this peer's key-frame requests only.
    static std::shared_ptr<HostPeer> make(MediaEngine& engine, std::shared_ptr<SignalTransport> signal,
                                          std::vector<ICEServer> relays, TimerFactory timers,
                                          const ScreenSources& screens, std::shared_ptr<CaptureExclusion> exclusion,
                                          std::shared_ptr<SharedDisplay> shared, const Defaults& defaults);
    ~HostPeer() override;

    std::function<void()> onEnded;
    std::function<std::optional<std::string>(const std::string& sdp)> signAnswer;
    std::function<void(const SessionEvent&)> onEvent;
    std::function<void()> onChannelOpen;

    bool hasConnection() const;
    // Applies the offer's SDP and answers. The caller has checked its signature. Only
    // the first offer is applied; later ones change nothing.
    void applyOffer(const SignalMessage& offer);
    bool offerApplied() const { return offerApplied_; }
    void addRemoteCandidate(const SignalMessage& candidate);
    // One event as JSON text on the guide channel, when it is open.
    void send(const SessionEvent& event);
    void setShowsCursor(bool shows);
    // The viewer asked for a full picture: the next frame of this session is a key frame.
    void requestKeyFrame();
    // Moves the capture to another display.
    void switchDisplay(std::uint32_t displayId);
    // Ends the peer: the capture stops; with a goodbye event and an open channel the
    // event goes out and the connection closes half a second later, else at once.
    void stop(std::optional<SessionEvent> goodbye = std::nullopt);

    ConnectionState connectionState() const { return connectionState_; }
    // Whether the connection has stood at some point (connected or completed).
    bool hasConnected() const { return hasConnected_; }
    bool guideChannelOpen() const;
    // Tests: the capture's size once it runs.
    std::optional<std::pair<int, int>> captureSize() const;
    bool capturing() const;

    // The adaptation in force: the resolution divisor and the frame-rate ceiling, and
    // what the video sender's first encoding says of them.
    double currentScale() const;
    int currentFrameRate() const;
    std::optional<double> encodingScale() const;
    std::optional<int> encodingMaxFrameRate() const;
    // Frames a second the capture runs at (lowered with the ceiling).
    int captureFrameRate() const;
    // Caps what the connection may estimate and send, in bits per second (diagnostics
    // of the adaptation on a fast link).
    void capBitrate(int bitsPerSecond);

    // Whether the first video payload type of the SDP maps to H.265.
    static bool sdpHasH265(const std::string& sdp);

private:
    struct Impl;
    HostPeer(MediaEngine& engine, std::shared_ptr<SignalTransport> signal, std::vector<ICEServer> relays,
             TimerFactory timers, const ScreenSources& screens, std::shared_ptr<CaptureExclusion> exclusion,
             std::shared_ptr<SharedDisplay> shared, const Defaults& defaults);
    void build(const std::vector<ICEServer>& relays, const Defaults& defaults);
    void answerOffer();
    void finishAnswer(const std::string& sdp);
    void chooseTenBit(bool h265InUse);
    void armStatsTimer();
    void pollStats();
    void applyStatsReading(const StatsReading& reading);
    void closeNow();

    std::shared_ptr<SignalTransport> signal_;
    TimerFactory timers_;
    const std::shared_ptr<SharedDisplay> shared_;
    MediaSettings media_;
    std::unique_ptr<Impl> impl_;
    ConnectionState connectionState_ = ConnectionState::fresh;
    bool offerApplied_ = false;
    bool hasConnected_ = false;
    bool stopped_ = false;
    bool usingH265_ = false;
};

} // namespace wl
