// Picture fetch throughput: a help request's three 5 MiB pictures move over the file
// link (serving and collecting peers, header, 16384-byte chunks, receipt) between two
// peer connections on 127.0.0.1, beside a plain ordered data channel that moves the
// same bytes in the same chunks with the same send buffer. Both include setting up the
// connection. Prints both rates and their ratio; exits non-zero when a run fails or
// the ratio is below 0.7.
#include "mail/FileLinkPeer.h"
#include "TestMediaEngine.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/linux/QtTimers.h"
#include "signalling/PeerLink.h"
#include "signalling/SignalTransport.h"
#include "signalling/WebRTCConfiguration.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMetaObject>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kPictureBytes = 5 * 1024 * 1024;
constexpr int kRounds = 5;
constexpr int kRoundLimitMs = 60000;
constexpr std::uint64_t kHighWater = 1024 * 1024; // as the file link's sender keeps it

std::string bytesOf(std::size_t size, unsigned seed)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator() & 0xff);
    return bytes;
}

// An in-process signalling path: what one side sends reaches the other on a later turn.
class PipeEnd final : public wl::SignalTransport {
public:
    std::function<void(const wl::SignalMessage&)> deliver;
    std::shared_ptr<int> alive = std::make_shared<int>(0);

    void send(const wl::SignalMessage& message) override
    {
        std::weak_ptr<int> target = alive;
        auto handler = deliver;
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [target, handler, message] {
                if (target.lock() && handler)
                    handler(message);
            },
            Qt::QueuedConnection);
    }
    void close() override { }
};

bool runUntil(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Seconds to fetch the pictures over the file link; nullopt when it failed.
std::optional<double> fileLinkRound(const wl::Defaults& defaults, const std::vector<wl::TransferredFile>& pictures)
{
    auto toServer = std::make_shared<PipeEnd>();
    auto toCollector = std::make_shared<PipeEnd>();
    QElapsedTimer clock;
    clock.start();
    auto serve =
        std::make_unique<wl::FileLinkPeer>(wl::test::loopbackEngine(), wl::FileLinkPeer::Role::serve, toCollector,
                                           std::vector<wl::ICEServer>{}, defaults, wl::qtTimerFactory(), pictures);
    auto collect =
        std::make_unique<wl::FileLinkPeer>(wl::test::loopbackEngine(), wl::FileLinkPeer::Role::collect, toServer,
                                           std::vector<wl::ICEServer>{}, defaults, wl::qtTimerFactory());
    serve->signAnswer = [](const std::string&) { return std::optional<std::string>("signed"); };
    collect->signOffer = [](const std::string&) { return std::optional<std::string>("signed"); };
    toServer->deliver = [&](const wl::SignalMessage& message) {
        if (message.kind == wl::SignalMessage::Kind::offer)
            serve->applyOffer(message);
        else if (message.kind == wl::SignalMessage::Kind::candidate)
            serve->addRemoteCandidate(message);
    };
    toCollector->deliver = [&](const wl::SignalMessage& message) {
        if (message.kind == wl::SignalMessage::Kind::answer)
            collect->applyAnswer(message);
        else if (message.kind == wl::SignalMessage::Kind::candidate)
            collect->addRemoteCandidate(message);
    };
    std::optional<std::vector<wl::TransferredFile>> received;
    bool ended = false;
    collect->onReceived = [&](std::vector<wl::TransferredFile> files) { received = std::move(files); };
    collect->onEnded = [&] { ended = true; };
    collect->start();
    const bool done = runUntil([&] { return received.has_value() || ended; }, kRoundLimitMs);
    const double seconds = clock.nsecsElapsed() / 1e9;
    const bool ok = done && received && *received == pictures;
    collect.reset();
    serve.reset();
    toServer->deliver = nullptr;
    toCollector->deliver = nullptr;
    QCoreApplication::processEvents();
    if (!ok)
        return std::nullopt;
    return seconds;
}

// Seconds to move the same bytes over a plain ordered data channel; nullopt on failure.
std::optional<double> plainChannelRound(const wl::Defaults& defaults, const std::vector<wl::TransferredFile>& pictures)
{
    const auto configuration = wl::makeRTCConfiguration(defaults, {});
    std::unique_ptr<wl::PeerLink> sender, receiver;
    std::shared_ptr<wl::DataChannelLink> out, in;
    std::uint64_t total = 0;
    for (const auto& picture : pictures)
        total += picture.data.size();
    std::uint64_t got = 0;
    std::size_t file = 0, offset = 0;

    QElapsedTimer clock;
    clock.start();
    wl::PeerLink::Events senderEvents;
    senderEvents.localCandidate = [&](const wl::SignalMessage& candidate) {
        if (receiver)
            receiver->addRemoteCandidate(candidate);
    };
    wl::PeerLink::Events receiverEvents;
    receiverEvents.localCandidate = [&](const wl::SignalMessage& candidate) {
        if (sender)
            sender->addRemoteCandidate(candidate);
    };
    receiverEvents.dataChannel = [&](std::shared_ptr<wl::DataChannelLink> channel) {
        channel->events.message = [&](const std::string& bytes, bool) { got += bytes.size(); };
        in = channel;
    };
    sender = std::make_unique<wl::PeerLink>(wl::test::loopbackEngine().dataFactory(), configuration, senderEvents);
    receiver = std::make_unique<wl::PeerLink>(wl::test::loopbackEngine().dataFactory(), configuration, receiverEvents);
    out = sender->createDataChannel("plain", true);
    auto pump = [&] {
        while (file < pictures.size() && out->isOpen() && out->bufferedAmount() < kHighWater) {
            const std::string& data = pictures[file].data;
            const std::size_t length = std::min(wl::FileLinkPeer::kChunkSize, data.size() - offset);
            if (!out->send(data.substr(offset, length), true))
                return;
            offset += length;
            if (offset == data.size()) {
                ++file;
                offset = 0;
            }
        }
    };
    out->events.state = [&](webrtc::DataChannelInterface::DataState) { pump(); };
    out->events.bufferedAmount = [&](std::uint64_t) { pump(); };
    sender->setLocalDescription([&](std::optional<std::string> offer, std::string) {
        if (!offer)
            return;
        receiver->setRemoteDescription(webrtc::SdpType::kOffer, *offer, [&](std::string error) {
            if (!error.empty())
                return;
            receiver->setLocalDescription([&](std::optional<std::string> answer, std::string) {
                if (answer)
                    sender->setRemoteDescription(webrtc::SdpType::kAnswer, *answer, [](std::string) {});
            });
        });
    });
    const bool done = runUntil([&] { return got >= total; }, kRoundLimitMs);
    const double seconds = clock.nsecsElapsed() / 1e9;
    out.reset();
    in.reset();
    sender->close();
    receiver->close();
    QCoreApplication::processEvents();
    if (!done || got != total)
        return std::nullopt;
    return seconds;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    auto defaults = std::make_shared<wl::MemoryDefaults>();
    // Nothing leaves the machine: loopback candidates only, no STUN server.
    defaults->setStringList(wl::kSTUNServersKey, {});
    wl::Log::setSink([](const std::string&) {});
    if (!wl::test::loopbackEngine().dataFactory()) {
        std::printf("picture fetch: FAILED (no peer-connection factory)\n");
        return 1;
    }
    const std::vector<wl::TransferredFile> pictures = {
        {"0 a.jpg", "Screenshot 1", "image/jpeg", bytesOf(kPictureBytes, 1)},
        {"1 b.jpg", "Screenshot 2", "image/jpeg", bytesOf(kPictureBytes, 2)},
        {"2 c.jpg", "Scan", "image/jpeg", bytesOf(kPictureBytes, 3)},
    };
    const double mib = 3.0 * kPictureBytes / (1024.0 * 1024.0);
    std::vector<double> fileLink, plain;
    for (int round = 0; round < kRounds; ++round) {
        auto reference = plainChannelRound(*defaults, pictures);
        auto ours = fileLinkRound(*defaults, pictures);
        if (!reference || !ours) {
            std::printf("picture fetch: FAILED in round %d (%s)\n", round + 1,
                        !reference ? "plain data channel" : "file link");
            return 1;
        }
        plain.push_back(*reference);
        fileLink.push_back(*ours);
        std::printf("round %d: file link %.3f s, plain channel %.3f s\n", round + 1, *ours, *reference);
    }
    const double oursRate = mib / median(fileLink);
    const double referenceRate = mib / median(plain);
    const double ratio = oursRate / referenceRate;
    std::printf("picture fetch, three 5 MiB pictures on 127.0.0.1 (median of %d, connection set-up included)\n",
                kRounds);
    std::printf("file link     %8.1f MiB/s\nplain channel %8.1f MiB/s\nratio %.2f (target >= 0.70): %s\n", oursRate,
                referenceRate, ratio, ratio >= 0.7 ? "met" : "MISSED");
    return ratio >= 0.7 ? 0 : 1;
}
