#pragma once
// A helper under test: the real viewer controller and services hub over in-memory
// settings and keys, scripted prompts and owner check, a recording notifier, manual
// timers, presence answered by the test, and a recording signalling path per connect.
// A host is a key of the test's own that signs what a real host would. The introduction
// service is not there (a loopback port of the rig's own that refuses) unless a test
// points `info` at one it started.
#include "TestMediaEngine.h"
#include "ManualTimers.h"
#include "Borrowed.h"
#include "RecordingNotifier.h"
#include "RefusingPort.h"
#include "ScriptedOwnerCheck.h"
#include "ScriptedPrompts.h"
#include "WaitUntil.h"

#include "identity/Base64.h"
#include "identity/DeviceIdentity.h"
#include "identity/Keys.h"
#include "identity/Random.h"
#include "mail/AppServices.h"
#include "platform/Defaults.h"
#include "platform/KeyStore.h"
#include "platform/linux/QtTimers.h"
#include "protocol/Date.h"
#include "signalling/IntroductionService.h"
#include "signalling/SignalTransport.h"
#include "viewer/ViewerController.h"

#include <memory>
#include <string>
#include <vector>

namespace wl::test {

// A signalling path that records what is sent and is driven by the test.
class RecordingTransport final : public SignalTransport {
public:
    void send(const SignalMessage& message) override { sent.push_back(message); }
    void close() override
    {
        if (closed)
            return;
        closed = true;
        if (auto handler = onClose)
            handler();
    }
    // The far side: a message arrives, or the link closes by itself.
    void deliver(const SignalMessage& message)
    {
        if (auto handler = onMessage)
            handler(message);
    }
    void dropLink(int code = 0)
    {
        closed = true;
        closedWith = code;
        if (auto handler = onClose)
            handler();
    }
    int closeCode() const override { return closedWith; }
    std::vector<SignalMessage> sentOf(SignalMessage::Kind kind) const
    {
        std::vector<SignalMessage> out;
        for (const auto& m : sent)
            if (m.kind == kind)
                out.push_back(m);
        return out;
    }

    std::vector<SignalMessage> sent;
    bool closed = false;
    int closedWith = 0;
};

// A host Mac the helper is paired with: its key signs challenges as a host does.
struct FakeHost {
    explicit FakeHost(std::string name) : name(std::move(name)), key(SigningKey::generate()) { }
    std::string id() const { return fingerprintOfRaw(key.publicKeyRaw()); }
    PairedDevice record() const { return PairedDevice{id(), name, key.publicKeyBase64(), dateNow(), {}, {}}; }
    SignalMessage challenge(const std::string& helperNonce, std::optional<std::string> salt = std::nullopt)
    {
        hostNonce = base64Encode(randomBytes(16));
        SignalMessage message = SignalMessage::make(SignalMessage::Kind::challenge);
        message.nonce = hostNonce;
        message.signature = key.sign(hostProofMessage(id(), helperNonce, hostNonce));
        message.salt = std::move(salt);
        return message;
    }
    std::string name;
    SigningKey key;
    std::string hostNonce;
};

class ViewerRig {
public:
    ViewerRig() = default;
    ~ViewerRig() { destroy(); }

    void pair(const std::vector<PairedDevice>& hosts) { PairedDeviceStore{*defaults, "WLPairedHosts"}.save(hosts); }

    void make()
    {
        expectOwnServiceAddress(IntroductionService::baseURL(*info), "the helper under test");
        MessengerOptions options;
        options.identity = MailIdentity::of(identity, defaults, MailIdentity::computerName());
        options.serviceURL = [this] { return IntroductionService::baseURL(*info); };
        options.notifier = &notifier;
        options.prompts = &prompts;
        options.timers = qtTimerFactory();
        services = std::make_unique<AppServices>(options, ownerCheck, timers.factory());
        services->isBeingHelped = [this] { return beingHelped; };
        ViewerController::Options viewerOptions;
        viewerOptions.platform.defaults = defaults;
        viewerOptions.platform.info = info;
        viewerOptions.platform.timers = timers.factory();
        viewerOptions.platform.prompts = borrowed(prompts);
        viewerOptions.platform.ownerCheck = borrowed(ownerCheck);
        viewerOptions.platform.notifier = borrowed(notifier);
        viewerOptions.makesPeers = makesPeers;
        viewerOptions.identity = identity;
        viewerOptions.makeTransport = [this](const std::string& id) {
            auto transport = std::make_shared<RecordingTransport>();
            transports.push_back(transport);
            connectedTo.push_back(id);
            return transport;
        };
        viewerOptions.isOnline = [this](const std::string& id, std::function<void(bool)> answer) {
            presenceAsked.push_back(id);
            pendingPresence.push_back({id, std::move(answer)});
        };
        if (rewire)
            rewire(viewerOptions);
        viewer =
            std::make_unique<ViewerController>(*services, engine ? *engine : test::loopbackEngine(), viewerOptions);
    }

    void destroy()
    {
        viewer.reset();
        services.reset();
        waitForNextTurn(); // what they left to delete goes
    }

    RecordingTransport& transport() { return *transports.back(); }
    std::string helperNonce() { return transport().sentOf(SignalMessage::Kind::hello).at(0).nonce.value_or(""); }
    std::set<std::string> storedSet(const char* key) const
    {
        auto list = defaults->stringList(key);
        return {list.begin(), list.end()};
    }

    std::shared_ptr<MemoryDefaults> defaults = std::make_shared<MemoryDefaults>();
    RefusingPort noService;
    // The service's address.
    std::shared_ptr<InfoDictionary> info = std::make_shared<MapInfoDictionary>(
        std::map<std::string, std::string>{{InfoKey::introductionURL, noService.httpUrl() + "/"}});
    std::shared_ptr<MemoryKeyStore> keys = std::make_shared<MemoryKeyStore>();
    std::shared_ptr<DeviceIdentity> identity = std::make_shared<DeviceIdentity>(keys); // this helper's
    RecordingNotifier notifier;
    ScriptedPrompts prompts;
    ScriptedOwnerCheck ownerCheck;
    ManualTimers timers;
    bool beingHelped = false;
    bool makesPeers = false;
    // The helper's media, when not the test executable's loopback engine (made before the
    // rig and ended after it).
    MediaEngine* engine = nullptr;
    // Changes the controller's options just before it is made (tests of its wiring).
    std::function<void(ViewerController::Options&)> rewire;
    std::vector<std::shared_ptr<RecordingTransport>> transports;
    std::vector<std::string> connectedTo;
    std::vector<std::string> presenceAsked;
    struct Presence {
        std::string id;
        std::function<void(bool)> answer;
    };
    std::vector<Presence> pendingPresence;
    std::unique_ptr<AppServices> services;
    std::unique_ptr<ViewerController> viewer;
};

} // namespace wl::test
