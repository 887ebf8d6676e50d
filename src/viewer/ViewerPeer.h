#pragma once
// The helper's side of one live session's peer connection. It offers to receive the
// host's screen (H.265 first, then H.264) and hands the frames to its renderer,
// receives the host's sound and sends the helper's microphone as "voice0" (off until
// switched on), opens the ordered "guide" channel for session events both ways, signs
// its offer, trades candidates over the session's signalling transport, asks for a key
// frame when an H.265 picture stalls while media still arrives, composes the statistics
// summary of the status line, and gives the connection up after the failure grace, or at
// once when its offer or the host's answer can't be set.
//
// Main thread only; WebRTC's callbacks reach it through its peer link. Each session
// gets a new peer; it is not reused after close().

#include "media/MediaSettings.h"
#include "platform/Defaults.h"
#include "platform/OneShotTimer.h"
#include "protocol/ICEServer.h"
#include "protocol/SessionEvent.h"
#include "protocol/SignalMessage.h"

#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace webrtc {
class RTCStatsReport;
}

namespace wl {

class ICEDiagnostics;
class MediaEngine;
class MoveLimiter;
class SampleBufferRenderer;
class SignalTransport;

class ViewerPeer final : public QObject, public std::enable_shared_from_this<ViewerPeer> {
    Q_OBJECT
public:
    // The ICE connection state, as WebRTC numbers it.
    enum class ConnectionState { fresh = 0, checking, connected, completed, failed, disconnected, closed };

    static constexpr std::chrono::milliseconds kStallPollInterval{250};
    static constexpr std::chrono::milliseconds kGoodbyeDelay{500};
    static constexpr double kPointerInterval = 1.0 / 60.0;

    // timers: the stall poll, the failure grace and the goodbye's delay; defaults: the
    // settings, read once here (WebRTC's threads read none). The engine makes the peer's
    // own factory.
    static std::shared_ptr<ViewerPeer> make(MediaEngine& engine, std::shared_ptr<SignalTransport> signal,
                                            std::vector<ICEServer> relays, TimerFactory timers,
                                            const Defaults& defaults);
    ~ViewerPeer() override;

    std::function<void()> onEnded;
    std::function<void(const SessionEvent&)> onEvent;
    std::function<std::optional<std::string>(const std::string& sdp)> signOffer;

    SampleBufferRenderer& renderer() const { return *renderer_; }
    ConnectionState connectionState() const { return connectionState_; }
    ICEDiagnostics& diagnostics() const { return *diagnostics_; }
    bool hasConnection() const;

    // Transceivers, tracks and "guide"; the stall poll; the signed offer.
    void start();
    void applyAnswer(const std::string& sdp);
    void addRemoteCandidate(const SignalMessage& message);
    // One event on "guide" when it is open; pointer and mouse-move events at most 60 a
    // second. A move that comes too soon waits for its turn, replaced by any later one,
    // so the last position always arrives; any other event sends a waiting move first.
    void send(const SessionEvent& event);
    bool guideOpen() const;
    // The statistics summary, handed to done on the main thread ("" when the
    // connection is gone).
    void describeStats(std::function<void(std::string)> done);
    static std::string describeStats(const webrtc::RTCStatsReport& report);
    // Bytes so far: sent and received over the connection's transports, and the
    // received video and sound payload.
    struct ByteCounts {
        long long sent = 0;
        long long received = 0;
        long long videoReceived = 0;
        long long audioReceived = 0;
    };
    // Handed to done on the main thread.
    void transportBytes(std::function<void(ByteCounts)> done);
    // Ends the connection; with a goodbye and "guide" open the event goes out first and
    // the connection closes half a second later. No callback follows.
    void close(std::optional<SessionEvent> goodbye = std::nullopt);

    // The host's sound and the helper's microphone.
    bool hasRemoteAudio() const;
    void setRemoteAudioEnabled(bool enabled);
    bool remoteAudioEnabled() const;
    void setVoiceEnabled(bool enabled);
    bool voiceEnabled() const;

    // The ranking of received video codecs.
    static std::vector<std::string> codecRanking() { return {"H265", "H264", "rtx", "red", "ulpfec"}; }
    // The kept capabilities' names in preferred order, from the factory's list.
    static std::vector<std::string> preferredCodecOrder(const std::vector<std::string>& factoryNames);

    // Tests: the clock of the pointer limit and the stall watch (seconds).
    std::function<double()> clock;
    int keyFramesRequested() const { return keyFramesRequested_; }

private:
    struct Impl;
    ViewerPeer(MediaEngine& engine, std::shared_ptr<SignalTransport> signal, std::vector<ICEServer> relays,
               TimerFactory timers, const Defaults& defaults);
    void build(const std::vector<ICEServer>& relays, const Defaults& defaults);
    void iceStateChanged(int state);
    void schedulePoll();
    void pollStats();
    void checkStall(long long mediaBytes, long long framesDecoded);
    void giveUp();
    void closeNow();
    double now() const;

    std::shared_ptr<SignalTransport> signal_;
    TimerFactory timers_;
    MediaSettings media_;
    std::unique_ptr<Impl> impl_;
    std::unique_ptr<ICEDiagnostics> diagnostics_;
    std::shared_ptr<SampleBufferRenderer> renderer_;
    ConnectionState connectionState_ = ConnectionState::fresh;
    void sendNow(const SessionEvent& event);

    std::unique_ptr<MoveLimiter> moves_;
    int keyFramesRequested_ = 0;
    bool closed_ = false;
};

} // namespace wl
