#pragma once
// A host under test: the real host controller and services hub over the real
// introduction service on loopback, with scripted prompts, a recorded power manager,
// switchable permissions, a scripted administrator prompt, manual timers for the
// controller, the session history in a temporary folder, and WebRTC on 127.0.0.1 only.
// Its sessions share a synthetic screen (which is also the displays) and post no input;
// a rig on the desktop shares the test X server's screen and posts input there.
#include "TestMediaEngine.h"
#include "HostFakes.h"
#include "ManualTimers.h"
#include "RecordingNotifier.h"
#include "RefusingPort.h"
#include "Borrowed.h"
#include "ScriptedOwnerCheck.h"
#include "ScriptedHelper.h"
#include "ScriptedPrompts.h"
#include "SyntheticScreen.h"
#include "ServiceProcess.h"
#include "TestDirs.h"
#include "WaitUntil.h"

#include "host/HelpRequestCenter.h"
#include "host/HostController.h"
#include "host/HostHandshake.h"
#include "host/HostSession.h"
#include "host/PairedHelpers.h"
#include "identity/DeviceIdentity.h"
#include "mail/AppServices.h"
#include "mail/PairingHost.h"
#include "platform/Defaults.h"
#include "platform/Displays.h"
#include "platform/InfoDictionary.h"
#include "platform/KeyStore.h"
#include "platform/linux/QtTimers.h"
#include "platform/Notifier.h"
#include "platform/Platform.h"
#include "signalling/IntroductionService.h"
#include "signalling/RelayLink.h"
#include "platform/SystemServices.h"
#include "platform/CursorImages.h"
#include "platform/InputPoster.h"
#include "platform/LocalInput.h"
#include "platform/linux/HostServices.h"
#include "platform/linux/XFixesCursorImages.h"
#include "platform/linux/XInputLocalInput.h"
#include "platform/linux/XRandrDisplays.h"
#include "platform/linux/XTestInputPoster.h"
#include "platform/linux/X11ScreenSource.h"
#include "signalling/WebRTCConfiguration.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace wl::test {

class HostRig {
public:
    using Route = HostHandshake::Route;
    struct Sent {
        SignalMessage message;
        Route route;
    };

    enum class Screen { synthetic, desktop };

    explicit HostRig(std::vector<std::string> serviceArguments = {}, Screen shared = Screen::synthetic)
        : service(std::move(serviceArguments)), onTheDesktop(shared == Screen::desktop)
    {
        started = service.start();
        info = std::make_shared<MapInfoDictionary>(
            std::map<std::string, std::string>{{InfoKey::introductionURL, service.httpUrl() + "/"}});
        platform.info = info;
        defaults->setBool("WLLoopbackOnly", true); // nothing leaves the machine
        defaults->setStringList(kSTUNServersKey, {});
        platform.defaults = defaults;
        platform.keys = keys;
        platform.timers = timers.factory();
        platform.prompts = borrowed(prompts);
        platform.notifier = notifier;
        platform.ownerCheck = borrowed(ownerCheck);
        platform.permissions = permissions;
        platform.power = power;
        platform.adminPrompt = admin;
        platform.workspace = workspace;
        platform.loginItem = std::make_shared<XdgLoginItem>(folder.path() / "autostart" / "wickerlane.desktop");
        if (onTheDesktop) {
            platform.displays = std::make_shared<XRandrDisplays>();
            platform.inputPoster = std::make_shared<XTestInputPoster>();
            platform.localInput = std::make_shared<XInputLocalInput>();
            platform.cursorImages = std::make_shared<XFixesCursorImages>();
        } else {
            platform.displays = screen->displays;
        }
        const char* state = std::getenv("XDG_STATE_HOME");
        savedState = state ? state : "";
        setenv("XDG_STATE_HOME", (folder.path() / "state").c_str(), 1);
        const char* data = std::getenv("XDG_DATA_HOME");
        savedData = data ? data : "";
        setenv("XDG_DATA_HOME", (folder.path() / "data").c_str(), 1);
    }

    ~HostRig()
    {
        destroy();
        if (savedState.empty())
            unsetenv("XDG_STATE_HOME");
        else
            setenv("XDG_STATE_HOME", savedState.c_str(), 1);
        if (savedData.empty())
            unsetenv("XDG_DATA_HOME");
        else
            setenv("XDG_DATA_HOME", savedData.c_str(), 1);
    }

    // Stores the paired helpers as an earlier run of the program left them.
    void pair(const std::vector<PairedDevice>& helpers)
    {
        PairedDeviceStore{*defaults, "WLPairedHelpers"}.save(helpers);
    }

    // Leaves an open help request with its pictures as an earlier run of the program did.
    void leaveOpenRequest(HelpRequestCenter::Active active, const std::vector<TransferredFile>& pictures)
    {
        defaults->setData(HelpRequestCenter::kActiveKey, active.toJson().dump());
        const auto pictureFolder = HelpRequestCenter::picturesFolder();
        std::filesystem::create_directories(pictureFolder);
        for (std::size_t i = 0; i < pictures.size(); ++i)
            std::ofstream(pictureFolder / (std::to_string(i) + " " + pictures[i].name + ".jpg"), std::ios::binary)
                << pictures[i].data;
    }

    void make()
    {
        expectOwnServiceAddress(IntroductionService::baseURL(*info), "the host under test");
        MessengerOptions options;
        options.identity = MailIdentity::of(identity, defaults, MailIdentity::computerName());
        options.identity.defaults = [this]() -> Defaults& { return *defaults; };
        options.serviceURL = [this] { return IntroductionService::baseURL(*info); };
        options.notifier = notifier.get();
        options.prompts = &prompts;
        options.timers = qtTimerFactory();
        options.clock = [this] { return fixedNow ? *fixedNow : dateNow(); };
        services = std::make_unique<AppServices>(options, ownerCheck, timers.factory());
        services->isHelping = [this] { return helping; };
        platform.screens = screen->sources();
        if (onTheDesktop)
            platform.screens = [] { return std::make_unique<X11ScreenSource>(); };
        host = std::make_unique<HostController>(*services, engine ? *engine : test::loopbackEngine(),
                                                HostController::Options{platform, identity});
        host->handshake().onSignalSent = [this](const SignalMessage& message, Route route) {
            sent.push_back({message, route});
        };
    }

    void destroy()
    {
        host.reset();
        services.reset();
        test::waitForNextTurn(); // what they left to delete goes
    }

    // Online, with the relay link settled: its timer that starts the back-off over has
    // fired, so that the only timers left are the ones a test looks at.
    bool goOnline()
    {
        host->setAcceptingHelpRequests(true);
        if (!waitUntil([this] { return host->isOnline(); }, 10000))
            return false;
        return waitUntil([this] { return timers.activeCount(RelayLink::kStableAfter) > 0; }) &&
            timers.fireNext(RelayLink::kStableAfter);
    }
    // The relay link went and the service is back: its first retry comes at once.
    bool reconnect()
    {
        const std::chrono::milliseconds firstRetry{static_cast<long long>(RelayLink::kFirstRetryDelay * 1000)};
        if (!waitUntil([&] { return timers.activeCount(firstRetry) > 0; }) || !timers.fireNext(firstRetry))
            return false;
        return waitUntil([this] { return host->isOnline(); }, 15000);
    }

    // Starts pairing as the menu does and waits until the service holds the code, as a
    // person reading it off the screen would find it: a helper may join at once. The
    // code, or "" when the service never held it.
    std::string startPairing()
    {
        host->pairedHelpers().startPairing();
        const auto waiting = [this] {
            auto* pairing = host->pairedHelpers().pairing();
            return pairing && pairing->isWaiting();
        };
        if (!waitUntil(waiting, 10000))
            return {};
        return host->pairedHelpers().pairing()->code();
    }

    std::string hostId() const { return identity->deviceId(); }
    std::string hostKey() const { return identity->deviceSigningKey()->publicKeyBase64(); }

    // The helper reaches this host through the service.
    void reach(ScriptedHelper& helper)
    {
        helper.connect(*info, hostId(), hostKey());
        waitUntil([&] { return helper.connected(); });
    }

    // Sent messages of a kind, with their paths.
    std::vector<Sent> sentOf(SignalMessage::Kind kind) const
    {
        std::vector<Sent> out;
        for (const auto& s : sent)
            if (s.message.kind == kind)
                out.push_back(s);
        return out;
    }
    bool sentAfter(SignalMessage::Kind first, SignalMessage::Kind second) const
    {
        bool seenFirst = false;
        for (const auto& s : sent) {
            if (s.message.kind == first)
                seenFirst = true;
            else if (seenFirst && s.message.kind == second)
                return true;
        }
        return false;
    }

    std::vector<std::string> history() const
    {
        std::vector<std::string> lines;
        std::ifstream in(folder.path() / "state" / "Wickerlane Host" / "Session History.log");
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    bool historyHas(const std::string& text) const
    {
        for (const auto& line : history())
            if (line.size() >= text.size() && line.compare(line.size() - text.size(), text.size(), text) == 0)
                return true;
        return false;
    }

    ServiceProcess service;
    const bool onTheDesktop;
    std::shared_ptr<SyntheticScreen> screen = SyntheticScreen::make();
    bool started = false;
    TempDir folder;
    std::string savedState;
    std::string savedData;
    std::optional<Date> fixedNow; // the messenger's clock stands still here when set
    std::shared_ptr<MemoryDefaults> defaults = std::make_shared<MemoryDefaults>();
    std::shared_ptr<InfoDictionary> info; // the service's address
    std::shared_ptr<MemoryKeyStore> keys = std::make_shared<MemoryKeyStore>();
    std::shared_ptr<DeviceIdentity> identity = std::make_shared<DeviceIdentity>(keys); // this host's
    std::shared_ptr<SwitchablePermissions> permissions = std::make_shared<SwitchablePermissions>();
    std::shared_ptr<RecordingPowerManagement> power = std::make_shared<RecordingPowerManagement>();
    std::shared_ptr<ScriptedAdminPrompt> admin = std::make_shared<ScriptedAdminPrompt>();
    std::shared_ptr<RecordingWorkspace> workspace = std::make_shared<RecordingWorkspace>();
    std::shared_ptr<RecordingNotifier> notifier = std::make_shared<RecordingNotifier>();
    Platform platform; // the controller's: the fakes above
    ScriptedPrompts prompts;
    ScriptedOwnerCheck ownerCheck;
    ManualTimers timers;
    bool helping = false;
    // The host's media, when not the test executable's loopback engine (made before the
    // rig's controller and ended after it).
    MediaEngine* engine = nullptr;
    std::unique_ptr<AppServices> services;
    std::unique_ptr<HostController> host;
    std::vector<Sent> sent;
};

// The grant of unattended access as the host stores it, with an optional PIN.
UnattendedGrant grantWithPIN(const std::optional<std::string>& pin, int failedAttempts = 0);

} // namespace wl::test
