#include "mail/FileLinkPeer.h"

#include "media/MediaEngine.h"
#include "platform/Log.h"
#include "signalling/PeerLink.h"
#include "signalling/SignalTransport.h"
#include "signalling/WebRTCConfiguration.h"

#include <QMetaObject>

#include <chrono>

#include <nlohmann/json.hpp>

namespace wl {

namespace {

// The serving side keeps at most this much queued in the channel (the library closes a
// channel whose queue passes 16 MiB) and refills when it has drained below the low mark.
constexpr std::uint64_t kHighWater = 1024 * 1024;

// How long the serving side waits for the channel to finish closing after the receipt
// before it closes the connection anyway.
constexpr std::chrono::milliseconds kCloseGrace{2000};

} // namespace

struct FileLinkPeer::Impl {
    std::unique_ptr<PeerLink> link;
    std::shared_ptr<DataChannelLink> channel;
};

FileLinkPeer::FileLinkPeer(MediaEngine& engine, Role role, std::shared_ptr<SignalTransport> signal,
                           std::vector<ICEServer> relays, const Defaults& defaults, TimerFactory timers,
                           std::vector<TransferredFile> files, QObject* parent)
    : QObject(parent), role_(role), signal_(std::move(signal)),
      timers_(requiredTimers(std::move(timers), "FileLinkPeer")), files_(std::move(files)),
      impl_(std::make_unique<Impl>())
{
    PeerLink::Events events;
    events.localCandidate = [this](const SignalMessage& message) {
        if (!finished_ && signal_)
            signal_->send(message);
    };
    events.connectionState = [this](PeerLink::PeerConnectionState state) {
        using State = PeerLink::PeerConnectionState;
        if (state == State::kConnected)
            connected_ = true;
        if (state == State::kFailed || state == State::kClosed)
            connectionEnded();
    };
    events.dataChannel = [this](std::shared_ptr<DataChannelLink> incoming) {
        if (incoming->label() != kChannelLabel || impl_->channel)
            return; // one channel per link
        adoptChannel(std::move(incoming));
        channelOpened();
    };
    impl_->link = std::make_unique<PeerLink>(engine.dataFactory(), makeRTCConfiguration(defaults, relays),
                                             std::move(events), "Wickerlane: file link: ");
}

FileLinkPeer::~FileLinkPeer()
{
    finished_ = true;
    teardown();
}

webrtc::PeerConnectionInterface* FileLinkPeer::peerConnection() const
{
    return impl_->link ? impl_->link->connection() : nullptr;
}

void FileLinkPeer::adoptChannel(std::shared_ptr<DataChannelLink> channel)
{
    channel->events.state = [this](webrtc::DataChannelInterface::DataState state) {
        if (state == webrtc::DataChannelInterface::kOpen)
            channelOpened();
        else if (state == webrtc::DataChannelInterface::kClosed)
            channelClosed();
    };
    channel->events.message = [this](const std::string& bytes, bool binary) {
        if (binary)
            handleBinary(bytes);
        else
            handleText(bytes);
    };
    channel->events.bufferedAmount = [this](uint64_t) { pump(); };
    impl_->channel = std::move(channel);
}

void FileLinkPeer::start()
{
    if (role_ != Role::collect || finished_)
        return;
    if (!peerConnection()) {
        endSoon();
        return;
    }
    if (impl_->channel)
        return; // started already

    auto channel = impl_->link->createDataChannel(kChannelLabel, true);
    if (!channel) {
        endSoon();
        return;
    }
    adoptChannel(std::move(channel));
    impl_->link->setLocalDescription([this](std::optional<std::string> sdp, std::string error) {
        if (finished_)
            return;
        if (!sdp) {
            Log::line("Wickerlane: could not create file offer: " + error);
            end();
            return;
        }
        if (signal_)
            signal_->send(descriptionMessage(SignalMessage::Kind::offer, *sdp, signOffer));
    });
}

void FileLinkPeer::applyOffer(const SignalMessage& offer)
{
    if (role_ != Role::serve || finished_)
        return;
    if (!peerConnection()) {
        endSoon();
        return;
    }
    if (!offer.sdp) {
        Log::line("Wickerlane: file link: an offer without SDP");
        return;
    }
    impl_->link->setRemoteDescription(webrtc::SdpType::kOffer, *offer.sdp, [this](std::string error) {
        if (finished_)
            return;
        if (!error.empty()) {
            Log::line("Wickerlane: could not apply file offer: " + error);
            end();
            return;
        }
        impl_->link->setLocalDescription([this](std::optional<std::string> sdp, std::string answerError) {
            if (finished_)
                return;
            if (!sdp) {
                Log::line("Wickerlane: could not create file answer: " + answerError);
                end();
                return;
            }
            if (signal_)
                signal_->send(descriptionMessage(SignalMessage::Kind::answer, *sdp, signAnswer));
        });
    });
}

void FileLinkPeer::applyAnswer(const SignalMessage& answer)
{
    if (role_ != Role::collect || finished_ || !peerConnection())
        return;
    if (!answer.sdp) {
        Log::line("Wickerlane: could not apply file answer: no SDP");
        return;
    }
    impl_->link->setRemoteDescription(webrtc::SdpType::kAnswer, *answer.sdp, [](std::string error) {
        if (!error.empty())
            Log::line("Wickerlane: could not apply file answer: " + error);
    });
}

void FileLinkPeer::addRemoteCandidate(const SignalMessage& candidate)
{
    if (finished_ || !peerConnection() || !candidate.sdp)
        return;
    if (!impl_->link->addRemoteCandidate(candidate))
        Log::line("Wickerlane: file link: ignored a malformed candidate");
}

void FileLinkPeer::close()
{
    if (finished_)
        return;
    finished_ = true;
    onReceived = nullptr;
    onDelivered = nullptr;
    onEnded = nullptr;
    teardown();
}

void FileLinkPeer::channelOpened()
{
    if (finished_ || role_ != Role::serve || sending_)
        return;
    auto channel = impl_->channel;
    if (!channel || !channel->isOpen())
        return;
    if (files_.size() > kMaxFiles) {
        fail("too many files to serve (" + std::to_string(files_.size()) + ")");
        return;
    }
    for (const TransferredFile& file : files_) {
        if (file.data.size() > kMaxFileSize) {
            fail("a file too large to serve (" + std::to_string(file.data.size()) + " bytes)");
            return;
        }
    }
    sending_ = true;
    pump();
}

void FileLinkPeer::pump()
{
    if (finished_ || !sending_ || sentDone_)
        return;
    auto channel = impl_->channel;
    if (!channel)
        return;
    while (!sentDone_ && channel->bufferedAmount() < kHighWater) {
        if (sendFile_ >= files_.size()) {
            sendText(nlohmann::json{{"kind", "done"}, {"count", files_.size()}}.dump());
            sentDone_ = true;
            break;
        }
        const TransferredFile& file = files_[sendFile_];
        if (!headerSent_) {
            sendText(nlohmann::json{
                {"kind", "file"}, {"id", file.id}, {"name", file.name}, {"type", file.type}, {"size", file.data.size()}}
                         .dump());
            headerSent_ = true;
            sendOffset_ = 0;
        }
        if (sendOffset_ < file.data.size()) {
            std::size_t length = std::min(kChunkSize, file.data.size() - sendOffset_);
            if (!channel->send(file.data.substr(sendOffset_, length), true)) {
                fail("could not send a chunk");
                return;
            }
            sendOffset_ += length;
        }
        if (sendOffset_ >= file.data.size()) {
            ++sendFile_;
            headerSent_ = false;
        }
    }
}

void FileLinkPeer::sendText(const std::string& text)
{
    auto channel = impl_->channel;
    if (channel && !channel->send(text, false))
        Log::line("Wickerlane: file link: could not send a header");
}

void FileLinkPeer::handleText(const std::string& text)
{
    if (finished_)
        return;
    nlohmann::json header = nlohmann::json::parse(text, nullptr, false);
    if (header.is_discarded() || !header.is_object() || !header.contains("kind") || !header["kind"].is_string()) {
        if (role_ == Role::collect)
            fail("an unreadable header");
        return;
    }
    const std::string kind = header["kind"].get<std::string>();

    if (role_ == Role::serve) {
        if (kind == "received" && sentDone_ && !delivered_) {
            delivered_ = true;
            if (header.contains("count") && header["count"].is_number_unsigned() &&
                header["count"].get<std::uint64_t>() == files_.size()) {
                if (auto delivered = std::move(onDelivered)) {
                    onDelivered = nullptr;
                    delivered(files_.size());
                }
            } else {
                Log::line("Wickerlane: file link: a receipt that does not count the files sent");
            }
            // The collector has everything: close the channel, then the connection.
            if (auto channel = impl_->channel)
                channel->requestClose();
            closeGrace_ = timers_(kCloseGrace, [this] { end(); });
        }
        return;
    }

    if (gotDone_)
        return; // nothing more is expected after the closing header
    if (kind == "file") {
        if (inFile_) {
            fail("a new file before the previous one was complete");
            return;
        }
        if (received_.size() >= kMaxFiles) {
            fail("more than " + std::to_string(kMaxFiles) + " files");
            return;
        }
        const auto isText = [&](const char* key) { return header.contains(key) && header[key].is_string(); };
        if (!isText("id") || !isText("name") || !isText("type") || !header.contains("size") ||
            !header["size"].is_number_unsigned()) {
            fail("a malformed file header");
            return;
        }
        auto size = header["size"].get<std::uint64_t>();
        if (size > kMaxFileSize) {
            fail("a file of " + std::to_string(size) + " bytes, over the limit");
            return;
        }
        TransferredFile file;
        file.id = header["id"].get<std::string>();
        file.name = header["name"].get<std::string>();
        file.type = header["type"].get<std::string>();
        file.data.reserve(size);
        received_.push_back(std::move(file));
        expectedSize_ = size;
        inFile_ = size > 0;
        return;
    }
    if (kind == "done") {
        if (inFile_) {
            fail("the transfer ended inside a file");
            return;
        }
        if (!header.contains("count") || !header["count"].is_number_unsigned() ||
            header["count"].get<std::uint64_t>() != received_.size()) {
            fail("a closing count that does not match the files received");
            return;
        }
        gotDone_ = true;
        sendText(nlohmann::json{{"kind", "received"}, {"count", received_.size()}}.dump());
        if (!delivered_) {
            delivered_ = true;
            auto deliver = std::move(onReceived);
            onReceived = nullptr;
            if (deliver)
                deliver(received_);
        }
        return;
    }
    // Other kinds are not part of this link; they change nothing.
}

void FileLinkPeer::handleBinary(const std::string& bytes)
{
    if (finished_ || role_ != Role::collect || gotDone_)
        return;
    if (!inFile_) {
        fail("bytes outside a file");
        return;
    }
    TransferredFile& file = received_.back();
    if (bytes.size() > expectedSize_ - file.data.size()) {
        fail("more bytes than the header announced");
        return;
    }
    file.data += bytes;
    if (file.data.size() == expectedSize_)
        inFile_ = false;
}

void FileLinkPeer::channelClosed()
{
    if (!finished_)
        end();
}

void FileLinkPeer::connectionEnded()
{
    if (!finished_)
        end();
}

void FileLinkPeer::fail(const std::string& why)
{
    if (finished_)
        return;
    Log::line("Wickerlane: file link failed: " + why);
    end();
}

void FileLinkPeer::endSoon()
{
    QMetaObject::invokeMethod(
        this, [this] { end(); }, Qt::QueuedConnection);
}

void FileLinkPeer::end()
{
    if (finished_)
        return;
    finished_ = true;
    onReceived = nullptr;
    onDelivered = nullptr;
    teardown();
    auto ended = std::move(onEnded);
    onEnded = nullptr;
    if (ended)
        ended();
}

void FileLinkPeer::teardown()
{
    closeGrace_.reset();
    if (auto channel = std::move(impl_->channel))
        channel->close();
    impl_->channel = nullptr;
    if (impl_->link)
        impl_->link->close();
}

} // namespace wl
