#pragma once
// The plumbing every peer connection of the program needs, in one place: the
// connection made from its factory, local and remote descriptions, ICE
// candidates both ways (remote ones wait until the remote description is set), data
// channels, statistics, the hop of every WebRTC callback to the owner's thread, and the
// lifetime of the observers. The peers themselves (the host's session peer, the file
// link, the helper's peer) hold only what differs: tracks, channels and what a message
// means.
//
// Threads: the owner calls every operation on its own thread (the main thread). WebRTC
// calls the observers on its signalling thread; each event is handed to the owner's
// thread through `dispatch` and runs there only while the link is open. After close()
// (or destruction) no event reaches the owner.

#include "media/PeerFactory.h"
#include "protocol/SignalMessage.h"

#include <api/data_channel_interface.h>
#include <api/jsep.h>
#include <api/peer_connection_interface.h>
#include <api/stats/rtc_stats_report.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace wl {

// Runs a piece of work on the owner's thread.
using Dispatch = std::function<void(std::function<void()>)>;
// Queues the work onto the Qt main thread (needs a QCoreApplication).
Dispatch mainThreadDispatch();
// Runs the work at once on the calling WebRTC thread (for tests that wait on their own
// locks instead of an event loop).
Dispatch immediateDispatch();

// The `offer` or `answer` message carrying a description, signed when sign is set.
SignalMessage descriptionMessage(SignalMessage::Kind kind, const std::string& sdp,
                                 const std::function<std::optional<std::string>(const std::string&)>& sign);

namespace detail {
// The door between WebRTC's threads and the owner. Work passes only while it is open:
// checked when it is handed over and again where it runs, without holding the lock
// while it runs (the work may call into WebRTC, whose threads may be posting). With the
// main-thread dispatch shutting and running both happen on the owner's thread; with the
// immediate dispatch work runs on WebRTC's signalling thread, and closing the connection
// (which waits for that thread) waits for it. A channel's gate passes its work through
// its link's gate too.
struct PeerGate : std::enable_shared_from_this<PeerGate> {
    PeerGate(Dispatch dispatch, std::shared_ptr<PeerGate> parent = nullptr)
        : dispatch(std::move(dispatch)), parent(std::move(parent))
    {
    }
    void post(std::function<void()> work);
    void shut();
    bool isOpen();

    const Dispatch dispatch;
    const std::shared_ptr<PeerGate> parent;
    std::mutex lock;
    bool open = true;
};
} // namespace detail

// One data channel of a link, opened by either side. Its events arrive on the owner's
// thread; set them when the channel is handed over (before the next event can run).
class DataChannelLink {
public:
    struct Events {
        std::function<void(webrtc::DataChannelInterface::DataState)> state;
        std::function<void(const std::string& bytes, bool binary)> message;
        std::function<void(uint64_t previousAmount)> bufferedAmount;
    };

    ~DataChannelLink();
    DataChannelLink(const DataChannelLink&) = delete;
    DataChannelLink& operator=(const DataChannelLink&) = delete;

    Events events;

    std::string label() const;
    webrtc::DataChannelInterface::DataState state() const;
    bool isOpen() const { return state() == webrtc::DataChannelInterface::kOpen; }
    uint64_t bufferedAmount() const;
    // False when the channel refused it (not open, or its queue is full).
    bool send(const std::string& bytes, bool binary);
    // Starts closing the channel; its state changes still arrive.
    void requestClose();
    // Closes the channel; no event follows.
    void close();

private:
    friend class PeerLink;
    struct Observer;
    DataChannelLink(rtc::scoped_refptr<webrtc::DataChannelInterface> channel,
                    std::shared_ptr<detail::PeerGate> peerGate);

    rtc::scoped_refptr<webrtc::DataChannelInterface> channel_;
    std::shared_ptr<detail::PeerGate> gate_; // shut with the channel, and behind the link's
    std::unique_ptr<Observer> observer_;
};

class PeerLink {
public:
    using IceConnectionState = webrtc::PeerConnectionInterface::IceConnectionState;
    using PeerConnectionState = webrtc::PeerConnectionInterface::PeerConnectionState;

    // Every event runs on the owner's thread, never after close().
    struct Events {
        // A local candidate as the `candidate` message to send.
        std::function<void(const SignalMessage&)> localCandidate;
        std::function<void(const std::string& url, int code, const std::string& text)> candidateError;
        std::function<void(IceConnectionState)> iceConnectionState;
        std::function<void(PeerConnectionState)> connectionState;
        // A channel the other side opened; set its events here.
        std::function<void(std::shared_ptr<DataChannelLink>)> dataChannel;
        // A track the other side sends.
        std::function<void(rtc::scoped_refptr<webrtc::RtpTransceiverInterface>)> track;
    };

    // Makes the connection from the factory (of the media engine; kept while the link
    // lives). When there is none or that fails (logged with logPrefix), connection() is
    // null and every operation does nothing.
    PeerLink(std::shared_ptr<PeerFactory> factory,
             const webrtc::PeerConnectionInterface::RTCConfiguration& configuration, Events events,
             std::string logPrefix = "Wickerlane: ", Dispatch dispatch = mainThreadDispatch());
    ~PeerLink();
    PeerLink(const PeerLink&) = delete;
    PeerLink& operator=(const PeerLink&) = delete;

    webrtc::PeerConnectionInterface* connection() const { return connection_.get(); }
    bool isClosed() const { return closed_; }

    // Sets the remote description; done gets "" on success, else the error. Remote
    // candidates that waited for it are added after a success.
    void setRemoteDescription(webrtc::SdpType type, const std::string& sdp, std::function<void(std::string)> done);
    bool hasRemoteDescription() const { return remoteSet_; }
    // Changes a freshly made offer or answer before it is set (runs on the owner's thread).
    using DescriptionRewrite = std::function<std::string(const std::string& sdp)>;
    using LocalDone = std::function<void(std::optional<std::string> sdp, std::string error)>;
    // Makes the offer or answer the connection's state calls for, passes it through
    // rewrite when one is given, and sets it as the local description; done gets the SDP
    // that was set, or nullopt and the error (also when making, reading or setting it
    // failed).
    void setLocalDescription(LocalDone done, DescriptionRewrite rewrite = {});

    // Adds the candidate of a `candidate` message (index 0 when absent). Before the
    // remote description it waits. False when the message carries no usable candidate.
    bool addRemoteCandidate(const SignalMessage& candidate);

    // A channel this side opens.
    std::shared_ptr<DataChannelLink> createDataChannel(const std::string& label, bool ordered);

    // The connection's statistics, delivered on the owner's thread.
    void getStats(std::function<void(rtc::scoped_refptr<const webrtc::RTCStatsReport>)> done);

    // Closes the connection and its channels; no event follows. Safe to call twice.
    void close();

private:
    struct Observer;
    void setRewrittenLocalDescription(webrtc::SdpType type, const std::string& sdp, LocalDone done);
    void flushCandidates();
    void addCandidateNow(const SignalMessage& candidate);

    std::string logPrefix_;
    std::shared_ptr<detail::PeerGate> gate_;
    Events events_;
    std::unique_ptr<Observer> observer_;
    std::shared_ptr<PeerFactory> factory_;
    rtc::scoped_refptr<webrtc::PeerConnectionInterface> connection_;
    std::vector<std::weak_ptr<DataChannelLink>> channels_;
    std::vector<SignalMessage> pendingCandidates_;
    bool remoteSet_ = false;
    bool closed_ = false;
};

} // namespace wl
