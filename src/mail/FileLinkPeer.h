#pragma once
// A peer-to-peer file link: one WebRTC peer connection with the ordered data channel
// "files", negotiated over a SignalTransport.
//
// The collecting side opens the channel and makes the offer; the serving side answers
// and, once the channel is open, sends each file as a header {"kind":"file",...}
// followed by 16384-byte binary chunks, then {"kind":"done","count":n}. The collector
// answers {"kind":"received","count":n} and hands the files on; the server closes the
// link when it reads that receipt. At most 3 files of at most 20 MiB each: anything
// beyond that, or bytes that do not add up, fail the link.
//
// All state lives on the main thread; WebRTC's callbacks hop there first. onReceived
// and onEnded run at most once each, on the main thread. close() ends the link without
// a callback.

#include "mail/TransferredFile.h"
#include "platform/Defaults.h"
#include "platform/OneShotTimer.h"
#include "protocol/ICEServer.h"
#include "protocol/SignalMessage.h"

#include <QObject>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace webrtc {
class PeerConnectionInterface;
}

namespace wl {

class DataChannelLink;
class MediaEngine;
class SignalTransport;

class FileLinkPeer : public QObject {
    Q_OBJECT
public:
    enum class Role { collect, serve };

    static constexpr std::size_t kMaxFiles = 3;
    static constexpr std::size_t kMaxFileSize = 20u * 1024u * 1024u;
    static constexpr std::size_t kChunkSize = 16384;
    static constexpr const char* kChannelLabel = "files";

    // Builds the peer connection at once (the engine's data factory, the relays' configuration,
    // the settings read from defaults now). When the factory cannot make one,
    // peerConnection() stays null and the link ends (onEnded) at the first start() or
    // applyOffer(). timers: the serving side's wait for the channel to close after the
    // receipt (required).
    FileLinkPeer(MediaEngine& engine, Role role, std::shared_ptr<SignalTransport> signal, std::vector<ICEServer> relays,
                 const Defaults& defaults, TimerFactory timers, std::vector<TransferredFile> files = {},
                 QObject* parent = nullptr);
    ~FileLinkPeer() override;

    // From an SDP to its base64 signature (nullopt / unset: the message goes without one).
    std::function<std::optional<std::string>(const std::string& sdp)> signOffer;
    std::function<std::optional<std::string>(const std::string& sdp)> signAnswer;
    std::function<void(std::vector<TransferredFile>)> onReceived;
    // Serve: the collector confirmed it has every file (its receipt), with the count.
    std::function<void(std::size_t count)> onDelivered;
    std::function<void()> onEnded;

    Role role() const { return role_; }
    webrtc::PeerConnectionInterface* peerConnection() const;
    bool isFinished() const { return finished_; }
    // Whether the connection has stood at some point.
    bool hasConnected() const { return connected_; }

    // Collect: creates the channel and the offer, signs the offer's SDP with signOffer and
    // sends it as an `offer` message. Serve: does nothing.
    void start();
    // Serve: sets the offer (a message with `sdp`) as the remote description and answers
    // with an `answer` message signed with signAnswer.
    void applyOffer(const SignalMessage& offer);
    // Collect: sets the answer's SDP as the remote description; a failure is only logged.
    void applyAnswer(const SignalMessage& answer);
    // Adds the candidate of a `candidate` message (held until the remote description is set).
    void addRemoteCandidate(const SignalMessage& candidate);
    // Closes the channel and the connection; no callback follows.
    void close();

private:
    struct Impl;
    friend struct Impl;

    void handleText(const std::string& text);
    void handleBinary(const std::string& bytes);
    void channelOpened();
    void channelClosed();
    void connectionEnded();
    void pump();
    void fail(const std::string& why);
    void end();
    void teardown();
    void sendText(const std::string& text);
    void endSoon();
    void adoptChannel(std::shared_ptr<DataChannelLink> channel);

    Role role_;
    std::shared_ptr<SignalTransport> signal_;
    TimerFactory timers_;
    std::vector<TransferredFile> files_;
    std::unique_ptr<Impl> impl_;
    std::unique_ptr<OneShotTimer> closeGrace_;
    bool finished_ = false;
    bool delivered_ = false;
    bool connected_ = false;

    // Serving progress.
    bool sending_ = false;
    bool sentDone_ = false;
    std::size_t sendFile_ = 0;
    std::size_t sendOffset_ = 0;
    bool headerSent_ = false;

    // Collecting progress.
    std::vector<TransferredFile> received_;
    std::size_t expectedSize_ = 0;
    bool inFile_ = false;
    bool gotDone_ = false;
};

} // namespace wl
