#include "app/DesktopStartup.h"

#include "identity/DeviceIdentity.h"
#include "mail/MigrateMergedApps.h"
#include "media/PulseAudioBackend.h"
#include "platform/CursorImages.h"
#include "platform/Defaults.h"
#include "platform/Displays.h"
#include "platform/InfoDictionary.h"
#include "platform/InputPoster.h"
#include "platform/KeyStore.h"
#include "platform/KeyboardLayout.h"
#include "platform/LocalInput.h"
#include "platform/Log.h"
#include "platform/Notifier.h"
#include "platform/OneShotTimer.h"
#include "platform/OwnerCheck.h"
#include "platform/Prompts.h"
#include "platform/SystemServices.h"
#include "platform/linux/DBusNotifier.h"
#include "platform/linux/DesktopPlatform.h"
#include "platform/linux/FileKeyStore.h"
#include "platform/linux/HostServices.h"
#include "platform/linux/PamOwnerCheck.h"
#include "platform/linux/ProgramInfoDictionary.h"
#include "platform/linux/QtLog.h"
#include "platform/linux/QtPrompts.h"
#include "platform/linux/QtTimers.h"
#include "platform/linux/SettingsDefaults.h"
#include "platform/linux/FeedUpdater.h"
#include "platform/linux/SingleInstance.h"
#include "platform/linux/X11ScreenSource.h"
#include "platform/linux/XFixesCursorImages.h"
#include "platform/linux/XInputLocalInput.h"
#include "platform/linux/XRandrDisplays.h"
#include "platform/linux/XTestInputPoster.h"
#include "platform/linux/XkbKeyboardLayout.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>

#include <cstdlib>
#include <malloc.h>

namespace wl {

namespace {
SingleInstance* runningCopy = nullptr; // the process's own, while it listens
} // namespace

MediaEngine::Options chooseMediaBackends(const Defaults& defaults)
{
    MediaEngine::Options options;
    options.loopbackOnly = defaults.boolValue("WLLoopbackOnly");
    options.audio = std::make_shared<PulseAudioBackend>();
    return options;
}

Platform chooseDesktopBackends()
{
    // Whole frames (capture, conversion, decoding: megabytes each, many a second, on
    // threads that come and go with sessions) get mappings of their own that go back to
    // the system when freed. Left to itself, glibc raises this threshold after the first
    // such block is freed and from then on keeps frames in per-thread arenas that it does
    // not give back: the host grew by tens of megabytes with every session.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    installQtLogSink();
    Platform platform;
    platform.timers = qtTimerFactory();
    auto settings = std::make_shared<SettingsDefaults>();
    platform.defaults = settings;
    platform.keys = makeDesktopKeyStore(*settings);
    platform.info = std::make_shared<ProgramInfoDictionary>(settings);
    platform.adminPrompt = std::make_shared<PolkitAdminPrompt>();
    platform.power = std::make_shared<DBusPowerManagement>();
    platform.loginItem = std::make_shared<XdgLoginItem>();
    platform.permissions = std::make_shared<X11Permissions>();
    platform.workspace = std::make_shared<DesktopWorkspace>();
    platform.displays = std::make_shared<XRandrDisplays>();
    platform.inputPoster = std::make_shared<XTestInputPoster>();
    platform.localInput = std::make_shared<XInputLocalInput>();
    platform.cursorImages = std::make_shared<XFixesCursorImages>();
    platform.keyboardLayout = std::make_shared<XkbKeyboardLayout>();
    platform.screens = makeDesktopScreenSource;
    platform.prompts = std::make_shared<QtPrompts>();
    platform.notifier = std::make_shared<DBusNotifier>();
    platform.ownerCheck = std::make_shared<PamOwnerCheck>();
    return platform;
}

void refreshDesktopEntry()
{
    refreshApplicationEntry(applicationEntryPath(), QCoreApplication::applicationFilePath().toStdString());
}

bool claimSingleInstance(std::function<void()> onReopen)
{
    auto* instance = new SingleInstance(SingleInstance::standardPath(), QCoreApplication::instance());
    if (!instance->claim()) {
        delete instance;
        return false;
    }
    instance->onReopen = std::move(onReopen);
    runningCopy = instance;
    return true;
}

std::unique_ptr<Updater> makeDesktopUpdater(const QUrl& feed, const std::string& publicKey, Prompts& prompts,
                                            std::shared_ptr<Defaults> settings, TimerFactory timers)
{
    FeedUpdaterOptions options;
    options.prompts = &prompts;
    options.timers = std::move(timers);
    options.feedURL = feed;
    options.publicKey = publicKey;
    options.currentVersion = WL_PROGRAM_VERSION;
    options.programDirectory = QCoreApplication::applicationDirPath().toStdString();
    options.programName = QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString();
    options.relaunch = [settings = std::move(settings)] { relaunchNow(*settings); };
    return std::make_unique<FeedUpdater>(options);
}

std::unique_ptr<ScreenSource> makeDesktopScreenSource()
{
    return std::make_unique<X11ScreenSource>();
}

void quitNow(Defaults& settings)
{
    settings.sync();
    Log::line("Wickerlane: quitting");
    std::_Exit(EXIT_SUCCESS);
}

void relaunchNow(Defaults& settings)
{
    // The new copy must not find this one still listening and hand over to it.
    if (runningCopy)
        runningCopy->release();
    QStringList arguments = QCoreApplication::arguments();
    if (!arguments.isEmpty())
        arguments.removeFirst();
    if (!QProcess::startDetached(QCoreApplication::applicationFilePath(), arguments))
        Log::line("Wickerlane: the updated program could not be started; open Wickerlane again");
    quitNow(settings);
}

void migrateFormerHelperProgram(Defaults& defaults, DeviceIdentity& identity)
{
    if (defaults.boolValue(kMergedAppsKey))
        return;
    const auto legacy = LegacyHelperLocation::fromEnvironment();
    std::unique_ptr<SettingsDefaults> settings;
    std::unique_ptr<FileKeyStore> keys;
    if (legacy.hasSettings())
        settings = std::make_unique<SettingsDefaults>(QString::fromStdString(legacy.settingsFile.string()));
    if (legacy.hasKeys())
        keys = std::make_unique<FileKeyStore>(legacy.keyFolder);
    if (migrateMergedApps(defaults, identity.keyStore(), {settings.get(), keys.get()}))
        identity.forget();
}

bool identityReadableOrQuit(DeviceIdentity& identity, Prompts& prompts)
{
    if (identity.deviceSigningKey())
        return true;
    Log::line("Wickerlane: this computer's device key can't be read; no new key is made in its place");
    AlertRequest alert;
    alert.title = kKeyUnreadableTitle;
    alert.informativeText = kKeyUnreadableText;
    alert.buttons = {"Quit", "Continue"};
    alert.style = AlertRequest::Style::critical;
    return prompts.alert(alert) != 0;
}

} // namespace wl
