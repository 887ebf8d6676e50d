#pragma once
// A scripted helper for host tests: a client of the real introduction service that
// speaks the signalling messages itself and signs them with its own keys, and, for a
// live session, a peer of its own (through the program's peer link) that offers to
// receive video, sends a voice track, opens the "guide" channel, checks the host's
// signed answer and decodes the host's screen.
#include "identity/Keys.h"
#include "platform/InfoDictionary.h"
#include "protocol/PairedDevice.h"
#include "protocol/SessionEvent.h"
#include "protocol/SignalMessage.h"

#include <api/media_stream_interface.h>
#include <api/video/video_frame.h>
#include <api/video/video_sink_interface.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace wl {
class DataChannelLink;
class PeerLink;
class WebSocketSignalChannel;
} // namespace wl

namespace wl::test {

// Decoded frames; any thread.
class FrameCatcher : public rtc::VideoSinkInterface<webrtc::VideoFrame> {
public:
    void OnFrame(const webrtc::VideoFrame& frame) override;
    long long count() const;
    std::optional<webrtc::VideoFrame> last() const;

private:
    mutable std::mutex lock_;
    std::optional<webrtc::VideoFrame> last_;
    long long count_ = 0;
};

class ScriptedHelper {
public:
    explicit ScriptedHelper(std::string name);
    ~ScriptedHelper();

    std::string name;
    SigningKey key;
    std::string id() const;
    // As the host keeps it after pairing.
    PairedDevice record(std::optional<UnattendedGrant> grant = std::nullopt) const;

    // ---- signalling ----
    // Opens v1/connect/<hostId>; the service answers with iceServers first.
    void connect(const InfoDictionary& info, const std::string& hostId, const std::string& hostPublicKey);
    bool connected() const;
    bool closed() const;
    void send(const SignalMessage& message);
    void close();
    // Every message received so far.
    const std::vector<SignalMessage>& received() const { return received_; }
    // Waits for the next message of this kind after those already taken.
    std::optional<SignalMessage> waitFor(SignalMessage::Kind kind, int timeoutMs = 10000);
    // Waits until the link closes.
    bool waitClosed(int timeoutMs = 10000);

    // A hello with a fresh nonce (kept as helperNonce).
    void hello(bool unattended = false, std::optional<std::string> purpose = std::nullopt,
               std::optional<std::string> requestId = std::nullopt, bool withKey = true, bool withNonce = true);
    std::string helperNonce;
    std::optional<SignalMessage> challenge; // the last challenge received
    // Whether the challenge's signature is the host's over its proof text.
    bool challengeVerifies() const;
    // The prove for the last challenge, with a PIN proof when a PIN is given (keyed
    // with the PIN and the challenge's salt).
    void prove(std::optional<std::string> pin = std::nullopt);
    void proveWithWrongSignature();

    // ---- live session ----
    // Makes the peer, opens "guide" and sends the signed offer.
    void startPeer();
    // The signed offer sent, as it went out.
    std::optional<SignalMessage> offer;
    bool answerVerified() const { return answerVerified_; }
    bool peerConnected() const;
    std::vector<SessionEvent> events() const;
    void sendEvent(const SessionEvent& event);
    bool guideOpen() const;
    FrameCatcher& frames() { return frames_; }
    int localCandidatesSent() const { return candidatesSent_; }
    int remoteCandidatesAdded() const { return candidatesAdded_; }
    // Closes the peer without a goodbye (as a helper whose machine went away).
    void dropPeer();

private:
    void handle(const SignalMessage& message);

    std::string hostId_;
    std::string hostPublicKey_;
    std::shared_ptr<WebSocketSignalChannel> channel_;
    bool open_ = false;
    bool closed_ = false;
    std::vector<SignalMessage> received_;
    std::size_t taken_ = 0;

    std::unique_ptr<PeerLink> peer_;
    rtc::scoped_refptr<webrtc::VideoTrackInterface> video_;
    std::shared_ptr<DataChannelLink> guide_;
    std::vector<SessionEvent> events_;
    FrameCatcher frames_;
    bool answerVerified_ = false;
    bool peerConnected_ = false;
    int candidatesSent_ = 0;
    int candidatesAdded_ = 0;
};

} // namespace wl::test
