// Feeds arbitrary signalling messages, in any order, to the host's dispatch, as they
// would arrive from the network on its relay link, mixed with the other things that
// happen meanwhile: consent answers, timers firing, the relay link dropping, events on
// the session's channel, raw text that may or may not decode.
//
// Each input is read as a list of steps. Some steps are well-formed on purpose (a hello
// from a paired helper, a correctly signed proof or offer for the attempt in progress),
// so that the deeper states are reached; the rest is noise. The checks:
// - nothing crashes;
// - the host never admits a helper ("accepted") without a correctly signed proof for
//   that very attempt and the user's yes, a right PIN (or a grant without one), or a
//   picture fetch of a request that helper got;
// - once the time limit has run out, the host is never left busy.
#include "TestMediaEngine.h"
#include "FuzzCheck.h"
#include "ManualTimers.h"
#include "RecordingNotifier.h"
#include "RefusingPort.h"
#include "Borrowed.h"
#include "ScriptedOwnerCheck.h"
#include "ScriptedPrompts.h"

#include "host/HelpRequestCenter.h"
#include "host/HostController.h"
#include "host/HostHandshake.h"
#include "host/HostSession.h"
#include "host/PairedHelpers.h"
#include "host/HostPeer.h"
#include "identity/Base64.h"
#include "identity/DeviceIdentity.h"
#include "identity/Keys.h"
#include "mail/AppServices.h"
#include "platform/Defaults.h"
#include "platform/InfoDictionary.h"
#include "platform/KeyStore.h"
#include "platform/Log.h"
#include "platform/OneShotTimer.h"
#include "platform/linux/QtTimers.h"
#include "platform/SystemServices.h"
#include "protocol/PairedDeviceStore.h"
#include "signalling/PeerLink.h"
#include "signalling/WebRTCConfiguration.h"

#include <api/rtp_transceiver_interface.h>

#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

namespace {

using namespace wl;
using Kind = SignalMessage::Kind;
using fuzz::require;

constexpr const char* kPIN = "246810";
constexpr int kMaxSteps = 48;

// Reads the input a byte at a time; zeros once it is used up.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) { }
    bool empty() const { return at_ >= size_; }
    std::uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }
    std::string text(std::size_t most)
    {
        std::size_t length = std::min<std::size_t>(next() % (most + 1), size_ - std::min(at_, size_));
        std::string out(reinterpret_cast<const char*>(data_ + at_), length);
        at_ += length;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

class Permitted final : public Permissions {
public:
    bool canRecordScreen() override { return recordScreen; }
    bool canControl() override { return true; }
    void requestControl() override { }
    bool recordScreen = true;
};

// What stays across inputs: the host's keys, the helpers, a real offer's SDP.
struct World {
    World()
    {
        static int argc = 1;
        static char name[] = "fuzz_host_dispatch";
        static char* argv[] = {name, nullptr};
        // An admitted session shows the banner and the guide overlay: widgets, drawn
        // off screen so that no display is needed.
        if (!QCoreApplication::instance()) {
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            new QApplication(argc, argv);
        }
        // Quiet: the log is not under test (WL_FUZZ_TRACE shows it, and what is admitted).
        if (!std::getenv("WL_FUZZ_TRACE"))
            Log::setSink([](const std::string&) {});
        hostId = identity->deviceId();
        // The open help request's pictures live under the data folder: a private one.
        char folder[] = "/tmp/wl-fuzz-host.XXXXXX";
        if (::mkdtemp(folder))
            setenv("XDG_DATA_HOME", folder, 1);
        offerSDP = makeOffer();
    }

    // A real offer as a helper makes it: video to receive, a voice track, "guide".
    std::string makeOffer()
    {
        auto defaults = std::make_shared<MemoryDefaults>();
        defaults->setBool("WLLoopbackOnly", true);
        defaults->setStringList(kSTUNServersKey, {});
        PeerLink link(test::loopbackEngine().dataFactory(), makeRTCConfiguration(*defaults, {}), {},
                      "Wickerlane: fuzz: ");
        if (!link.connection())
            return "v=0\r\n";
        webrtc::RtpTransceiverInit init;
        init.direction = webrtc::RtpTransceiverDirection::kRecvOnly;
        link.connection()->AddTransceiver(cricket::MEDIA_TYPE_VIDEO, init);
        auto channel = link.createDataChannel("guide", true);
        std::optional<std::string> sdp;
        link.setLocalDescription([&](std::optional<std::string> made, std::string) { sdp = made.value_or("v=0\r\n"); });
        QDeadlineTimer deadline(5000);
        while (!sdp && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return sdp.value_or("v=0\r\n");
    }

    std::shared_ptr<DeviceIdentity> identity = std::make_shared<DeviceIdentity>(std::make_shared<MemoryKeyStore>());
    std::string hostId;
    SigningKey withPIN = SigningKey::generate(); // unattended with a PIN
    SigningKey withoutPIN = SigningKey::generate(); // unattended without a PIN
    SigningKey attended = SigningKey::generate(); // no grant
    SigningKey stranger = SigningKey::generate(); // not paired
    std::shared_ptr<Permitted> permissions = std::make_shared<Permitted>();
    // The introduction service: none (a loopback port of our own that refuses).
    test::RefusingPort noService;
    std::shared_ptr<InfoDictionary> info = std::make_shared<MapInfoDictionary>(
        std::map<std::string, std::string>{{InfoKey::introductionURL, noService.httpUrl() + "/"}});
    std::string offerSDP;
    // The PIN keys are slow to derive on purpose: once.
    std::string pinSalt = makePINSalt();
    std::string pinKey = derivePINKey(kPIN, pinSalt);
    std::string wrongPinKey = derivePINKey("999999", pinSalt);
};

World& world()
{
    static World* w = new World;
    return *w;
}

PairedDevice device(const SigningKey& key, const std::string& name, std::optional<UnattendedGrant> grant)
{
    return PairedDevice{fingerprintOfRaw(key.publicKeyRaw()), name, key.publicKeyBase64(), 1000, grant, std::nullopt};
}

// One input's run.
class Run {
public:
    explicit Run(Bytes& bytes) : bytes_(bytes)
    {
        World& w = world();
        auto defaults = std::make_shared<MemoryDefaults>();
        defaults->setBool("WLLoopbackOnly", true);
        defaults->setStringList(kSTUNServersKey, {});
        UnattendedGrant pinGrant;
        pinGrant.pinSalt = base64Encode(w.pinSalt);
        pinGrant.pinKey = base64Encode(w.pinKey);
        pinGrant.failedAttempts = bytes_.next() % 6;
        UnattendedGrant open;
        helpers_ = {device(w.withPIN, "Ada Lovelace", pinGrant), device(w.withoutPIN, "Bo Open", open),
                    device(w.attended, "Cy Asks", std::nullopt)};
        PairedDeviceStore{*defaults, "WLPairedHelpers"}.save(helpers_);
        // Access already told: no mail goes out.
        nlohmann::json told = nlohmann::json::object(), at = nlohmann::json::object();
        for (const auto& helper : helpers_) {
            told[helper.id] = helper.unattended.has_value();
            at[helper.id] = dateNow();
        }
        defaults->setData(PairedHelpers::kToldAccessKey, told.dump());
        defaults->setData(PairedHelpers::kToldAccessAtKey, at.dump());
        w.permissions->recordScreen = bytes_.next() % 8 != 0;

        prompts_.onAlert = [this](const test::ScriptedPrompts::Question&) -> std::optional<AlertAnswer> {
            int button = bytes_.next() % 4; // 0 guide, 1 take over, 2 not now, 3 dismissed
            if (auto handshake = host_->handshake().attempt())
                consent_[handshake->helperNonce] = button == 0 || button == 1;
            return AlertAnswer{button == 3 ? -1 : button, false};
        };

        if (bytes_.next() % 2) {
            // An open help request with a picture, as an earlier run left it, sent to Cy.
            HelpRequestCenter::Active active;
            active.sent[helpers_[2].id] = "request-1";
            active.sentAt = dateNow();
            active.attachments = 1;
            defaults->setData(HelpRequestCenter::kActiveKey, active.toJson().dump());
            const auto folder = HelpRequestCenter::picturesFolder();
            std::filesystem::create_directories(folder);
            std::ofstream(folder / "0 Picture.jpg", std::ios::binary) << "bytes";
        }

        MessengerOptions options;
        options.identity = MailIdentity::inMemory(defaults, "Host");
        options.notifier = &notifier_;
        options.prompts = &prompts_;
        options.timers = qtTimerFactory();
        options.serviceURL = [] { return QUrl(QString::fromStdString(world().noService.httpUrl())); };
        services_ = std::make_unique<AppServices>(options, ownerCheck_, timers_.factory());
        services_->isHelping = [this] { return helping_; };
        Platform platform;
        platform.defaults = defaults;
        platform.info = world().info;
        platform.permissions = world().permissions;
        platform.timers = timers_.factory();
        platform.prompts = test::borrowed(prompts_);
        platform.notifier = test::borrowed(notifier_);
        platform.ownerCheck = test::borrowed(ownerCheck_);
        host_ = std::make_unique<HostController>(*services_, test::loopbackEngine(),
                                                 HostController::Options{platform, world().identity});
        host_->handshake().onSignalSent = [this](const SignalMessage& message, HostHandshake::Route) {
            if (message.kind == Kind::accepted) {
                checkAdmission();
                if (std::getenv("WL_FUZZ_TRACE"))
                    std::fprintf(stderr, "admitted%s\n", host_->session().peer() ? " (session)" : " (pictures)");
            }
        };
    }
    ~Run()
    {
        host_.reset();
        services_.reset();
        settle();
    }

    void play()
    {
        for (int step = 0; step < kMaxSteps && !bytes_.empty(); ++step)
            this->step();
        finish();
    }

private:
    const SigningKey& keyOf(std::uint8_t choice) const
    {
        World& w = world();
        switch (choice % 4) {
        case 0: return w.withPIN;
        case 1: return w.withoutPIN;
        case 2: return w.attended;
        default: return w.stranger;
        }
    }

    std::optional<std::string> currentHostNonce() const
    {
        auto handshake = host_->handshake().attempt();
        return handshake ? std::optional<std::string>(handshake->hostNonce) : std::nullopt;
    }

    void send(const SignalMessage& message) { host_->handshake().handleSignal(message); }

    void step()
    {
        World& w = world();
        switch (bytes_.next() % 14) {
        case 0: { // hello
            SignalMessage hello = SignalMessage::make(Kind::hello);
            const std::uint8_t shape = bytes_.next();
            const SigningKey& key = keyOf(shape);
            lastKey_ = &key;
            if (!(shape & 0x10))
                hello.publicKey = key.publicKeyBase64();
            else if (shape & 0x20)
                hello.publicKey = bytes_.text(48);
            helperNonce_ = base64Encode(std::string(16, static_cast<char>(bytes_.next())));
            if (!(shape & 0x40))
                hello.nonce = helperNonce_;
            if (shape & 0x80)
                hello.unattended = true;
            switch (bytes_.next() % 4) {
            case 0: break;
            case 1:
                hello.purpose = "attachments";
                hello.requestId = "request-1";
                break;
            case 2:
                hello.purpose = "attachments";
                hello.requestId = bytes_.text(12);
                break;
            default: hello.purpose = bytes_.text(12);
            }
            send(hello);
            return;
        }
        case 1: { // prove
            SignalMessage prove = SignalMessage::make(Kind::prove);
            const std::uint8_t shape = bytes_.next();
            auto current = currentHostNonce();
            const std::string hostNonce = current ? *current : bytes_.text(24);
            const SigningKey& key = (shape & 1) && lastKey_ ? *lastKey_ : keyOf(shape >> 1);
            const std::string nonce = (shape & 4) ? bytes_.text(24) : helperNonce_;
            if (!(shape & 8))
                prove.signature = key.sign(helperProofMessage(w.hostId, hostNonce, nonce));
            else if (shape & 16)
                prove.signature = bytes_.text(40);
            bool rightPIN = false;
            switch ((shape >> 5) % 4) {
            case 0: break;
            case 1:
                prove.pinProof = makePINProof(w.pinKey, hostNonce, nonce);
                rightPIN = true;
                break;
            case 2: prove.pinProof = makePINProof(w.wrongPinKey, hostNonce, nonce); break;
            default: prove.pinProof = bytes_.text(40);
            }
            if (auto handshake = host_->handshake().attempt()) {
                bool valid = prove.signature &&
                    verifySignature(prove.signature,
                                    helperProofMessage(w.hostId, handshake->hostNonce, handshake->helperNonce),
                                    handshake->helper.publicKey);
                if (valid)
                    validProve_[handshake->helperNonce] = true;
                if (valid && rightPIN)
                    rightPIN_[handshake->helperNonce] = true;
            }
            send(prove);
            return;
        }
        case 2: { // offer
            SignalMessage offer = SignalMessage::make(Kind::offer);
            const std::uint8_t shape = bytes_.next();
            offer.sdp = (shape & 1) ? w.offerSDP : bytes_.text(64);
            if (!(shape & 2) && lastKey_)
                offer.signature = lastKey_->sign(offerSignatureMessage(currentHostNonce().value_or(""), *offer.sdp));
            else if (shape & 4)
                offer.signature = bytes_.text(40);
            if (shape & 8)
                offer.sdp.reset();
            send(offer);
            return;
        }
        case 3: { // candidate
            SignalMessage candidate = SignalMessage::make(Kind::candidate);
            if (bytes_.next() % 2)
                candidate.sdp = "candidate:1 1 udp 2122260223 127.0.0.1 " + std::to_string(1024 + bytes_.next()) +
                    " typ host generation 0";
            else
                candidate.sdp = bytes_.text(40);
            if (bytes_.next() % 2)
                candidate.sdpMLineIndex = bytes_.next() % 4;
            if (bytes_.next() % 2)
                candidate.sdpMid = bytes_.text(4);
            send(candidate);
            return;
        }
        case 4: { // bye
            SignalMessage bye = SignalMessage::make(Kind::bye);
            if (bytes_.next() % 2)
                bye.reason = bytes_.text(12);
            send(bye);
            return;
        }
        case 5: { // the service's relay servers
            SignalMessage servers = SignalMessage::make(Kind::iceServers);
            if (bytes_.next() % 2) {
                ICEServer server;
                server.urls = {"turn:127.0.0.1:" + std::to_string(bytes_.next()), bytes_.text(16)};
                servers.iceServers = std::vector<ICEServer>{server};
            }
            send(servers);
            return;
        }
        case 6: { // kinds the host does not take from helpers
            static const Kind kinds[] = {Kind::challenge,   Kind::accepted, Kind::declined, Kind::answer,
                                         Kind::pairRequest, Kind::pairInfo, Kind::proven};
            SignalMessage other = SignalMessage::make(kinds[bytes_.next() % 7]);
            other.sdp = bytes_.text(16);
            other.reason = bytes_.text(8);
            send(other);
            return;
        }
        case 7: { // raw text from the network, sent when it decodes
            if (auto message = SignalMessage::decode(bytes_.text(200)))
                send(*message);
            return;
        }
        case 8: // a timer fires
            switch (bytes_.next() % 3) {
            case 0: timers_.fireNext(HostHandshake::kHandshakeTimeLimit); break;
            case 1: timers_.fireNext(std::chrono::milliseconds(10000)); break;
            default: timers_.fireNext(); break;
            }
            return;
        case 9: // the relay link drops, or comes back
            host_->relayOnlineChanged(bytes_.next() % 2 == 0);
            return;
        case 10: settle(); return;
        case 11: { // an event on the session's channel
            auto event = SessionEvent::decode(bytes_.text(120));
            if (event && host_->session().peer())
                host_->session().handleEvent(*event);
            return;
        }
        case 12: helping_ = !helping_; return;
        default: { // the helpers change (My Macs), or the session is stopped on this machine
            std::uint8_t choice = bytes_.next() % 3;
            if (choice == 0)
                host_->helpersChanged({}, {helpers_[bytes_.next() % 3].id});
            else if (choice == 1)
                host_->endSession(HostController::EndReason::stopped);
            else
                world().permissions->recordScreen = !world().permissions->recordScreen;
            return;
        }
        }
    }

    // An admission is allowed only after a correctly signed proof for this attempt, and
    // then only with a picture fetch, a right PIN (or no PIN set) or the user's yes.
    void checkAdmission()
    {
        auto handshake = host_->handshake().attempt();
        require(handshake.has_value(), "accepted only within an attempt");
        const std::string& nonce = handshake->helperNonce;
        require(validProve_.count(nonce) != 0, "accepted only after a correctly signed proof of this attempt");
        bool paired = false;
        std::optional<UnattendedGrant> grant;
        for (const auto& helper : host_->helpers())
            if (helper.id == handshake->helper.id) {
                paired = true;
                grant = helper.unattended;
            }
        require(paired, "accepted only for a paired helper");
        if (handshake->attachments)
            return;
        if (handshake->unattended) {
            require(grant.has_value(), "unattended only with a grant");
            require(!grant->pinKey || rightPIN_.count(nonce) != 0, "unattended only with the right PIN");
            return;
        }
        require(consent_[nonce], "accepted only with the user's yes");
    }

    void settle()
    {
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }

    // Once the time limit has run out (and no question is on screen: the scripted
    // prompts answer at once), nothing keeps the host busy: no connection stands here.
    void finish()
    {
        settle();
        for (int i = 0; i < 4 && host_->handshake().busy(); ++i) {
            timers_.fireNext(HostHandshake::kHandshakeTimeLimit);
            settle();
        }
        require(!host_->handshake().busy(), "the host is free after the time limit");
        require(!host_->helperName(), "no session is left after the time limit");
    }

    Bytes& bytes_;
    test::ScriptedPrompts prompts_;
    test::RecordingNotifier notifier_;
    test::ScriptedOwnerCheck ownerCheck_;
    test::ManualTimers timers_;
    std::vector<PairedDevice> helpers_;
    std::unique_ptr<AppServices> services_;
    std::unique_ptr<HostController> host_;
    const SigningKey* lastKey_ = nullptr;
    std::string helperNonce_;
    bool helping_ = false;
    std::map<std::string, bool> validProve_;
    std::map<std::string, bool> rightPIN_;
    std::map<std::string, bool> consent_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    world();
    Bytes bytes(data, size);
    {
        Run run(bytes);
        run.play();
    }
    return 0;
}
