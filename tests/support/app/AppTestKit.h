#pragma once
// The whole program under test: WickerlaneApp's real start-up over in-memory settings
// and keys that note what is read first, a recording notifier, scripted prompts, manual
// timers, presence answered by nobody, a recording signalling path for the helper's
// connections and an updater made by the test. Every step start-up takes that a fake
// can see goes into one journal, in order. The introduction service is not there (a
// loopback port of the rig's own that refuses) unless a test points the information keys
// at one it started, so nothing leaves the machine.
#include "TestMediaEngine.h"
#include "ManualTimers.h"
#include "RecordingNotifier.h"
#include "RefusingPort.h"
#include "Borrowed.h"
#include "ScriptedOwnerCheck.h"
#include "ScriptedPrompts.h"
#include "ViewerTestKit.h"
#include "WaitUntil.h"

#include "app/DesktopStartup.h"
#include "app/WickerlaneApp.h"
#include "identity/DeviceIdentity.h"
#include "platform/ActivationPolicy.h"
#include "platform/Defaults.h"
#include "platform/InfoDictionary.h"
#include "platform/KeyStore.h"
#include "platform/linux/QtTimers.h"
#include "protocol/PairedDevice.h"

#include <algorithm>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace wl::test {

using Journal = std::vector<std::string>;

// Settings that note the first read of each record list ("read WLMessages").
class JournalDefaults final : public MemoryDefaults {
public:
    explicit JournalDefaults(Journal& journal) : journal_(journal) { }
    std::optional<std::string> data(const std::string& key) const override
    {
        if (read_.insert(key).second)
            journal_.push_back("read " + key);
        return MemoryDefaults::data(key);
    }

private:
    Journal& journal_;
    mutable std::set<std::string> read_;
};

// Keys that note the first read.
class JournalKeyStore final : public KeyStore {
public:
    explicit JournalKeyStore(Journal& journal) : journal_(journal) { }
    ReadStatus read(const std::string& item, std::string& bytes) override
    {
        if (!noted_) {
            noted_ = true;
            journal_.push_back("keys read");
        }
        return inner_.read(item, bytes);
    }
    bool write(const std::string& item, const std::string& bytes) override { return inner_.write(item, bytes); }
    bool remove(const std::string& item) override { return inner_.remove(item); }

private:
    Journal& journal_;
    MemoryKeyStore inner_;
    bool noted_ = false;
};

class JournalNotifier final : public Notifier {
public:
    explicit JournalNotifier(Journal& journal) : journal_(journal) { }
    void prepare() override { journal_.push_back("messenger started"); }
    void post(const std::string&, const std::string&, const std::string& identifier) override
    {
        posted.push_back(identifier);
    }
    std::vector<std::string> posted;

private:
    Journal& journal_;
};

class JournalUpdater final : public Updater {
public:
    explicit JournalUpdater(Journal& journal) : journal_(journal) { }
    void start() override { journal_.push_back("updater started"); }
    void checkForUpdates() override { ++userChecks; }
    int userChecks = 0;

private:
    Journal& journal_;
};

class AppRig {
public:
    AppRig()
    {
        platform.defaults = defaults;
        platform.keys = keys;
        platform.timers = timers.factory();
        platform.screens = makeDesktopScreenSource;
        platform.prompts = borrowed(prompts);
        platform.notifier = borrowed(notifier);
        platform.ownerCheck = borrowed(ownerCheck);
        platform.info = std::make_shared<MapInfoDictionary>(
            std::map<std::string, std::string>{{InfoKey::introductionURL, noService.httpUrl() + "/"},
                                               {InfoKey::feedURL, "https://updates.wickerlane.invalid/appcast.xml"},
                                               {InfoKey::publicEDKey, "a2V5"}});
        defaults->setBool("WLLoopbackOnly", true);
        setActivationPolicy(ActivationPolicy::accessory);
    }
    ~AppRig()
    {
        app.reset();
        waitForNextTurn(); // what the program left to delete goes
    }

    // Stored as the program stores them, written straight in: a store's save reads the key
    // first, and the journal notes only the program's reads.
    void pairHosts(const std::vector<PairedDevice>& hosts)
    {
        defaults->setData("WLPairedHosts", PairedDevice::encodeList(hosts));
    }
    void pairHelpers(const std::vector<PairedDevice>& helpers)
    {
        defaults->setData("WLPairedHelpers", PairedDevice::encodeList(helpers));
    }

    bool start()
    {
        expectOwnServiceAddress(IntroductionService::baseURL(*platform.info), "the program under test");
        WickerlaneApp::Options options;
        options.messenger.clock = clock;
        options.platform = platform;
        options.viewer.makesPeers = false;
        options.viewer.makeTransport = [this](const std::string&) {
            auto transport = std::make_shared<RecordingTransport>();
            transports.push_back(transport);
            return transport;
        };
        options.viewer.isOnline = [](const std::string&, std::function<void(bool)>) {};
        options.migrate = [this] { journal.push_back("migrate"); };
        options.identityReadable = [this] {
            journal.push_back("identity");
            return identityReadableOrQuit(*app->identity(), prompts) && keyReadable;
        };
        options.makeUpdater = [this](const QUrl&, const std::string&) {
            journal.push_back("updater made");
            auto made = std::make_unique<JournalUpdater>(journal);
            updater = made.get();
            return made;
        };
        options.quit = [this] { ++quits; };
        app = std::make_unique<WickerlaneApp>(test::loopbackEngine(), options);
        return app->start();
    }

    // Where an entry stands in the journal (its size when absent).
    std::size_t at(const std::string& entry) const
    {
        return static_cast<std::size_t>(std::find(journal.begin(), journal.end(), entry) - journal.begin());
    }

    Journal journal;
    RefusingPort noService;
    std::shared_ptr<JournalDefaults> defaults = std::make_shared<JournalDefaults>(journal);
    std::shared_ptr<JournalKeyStore> keys = std::make_shared<JournalKeyStore>(journal);
    JournalNotifier notifier{journal};
    ScriptedPrompts prompts;
    ScriptedOwnerCheck ownerCheck;
    Platform platform; // the program's system services (the safe stand-ins unless a test sets one)
    std::function<Date()> clock; // the messenger's (dateNow when empty)
    ManualTimers timers;
    std::vector<std::shared_ptr<RecordingTransport>> transports;
    JournalUpdater* updater = nullptr;
    bool keyReadable = true;
    int quits = 0;
    std::unique_ptr<WickerlaneApp> app;
};

} // namespace wl::test
