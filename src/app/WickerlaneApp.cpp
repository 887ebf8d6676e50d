#include "app/WickerlaneApp.h"

#include "app/DesktopStartup.h"
#include "app/MainWindow.h"
#include "app/MenuBarExtra.h"
#include "app/ShellPanel.h"
#include "host/AskForHelpPanelController.h"
#include "host/HelpRequestCenter.h"
#include "host/HostSession.h"
#include "host/PairedHelpers.h"
#include "host/SessionBannerController.h"
#include "identity/DeviceIdentity.h"
#include "mail/PasswordsPanelController.h"
#include "platform/Log.h"
#include "platform/Notifier.h"
#include "platform/Prompts.h"
#include "platform/Required.h"
#include "signalling/IntroductionService.h"

#include <QGuiApplication>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>

namespace wl {

WickerlaneApp::WickerlaneApp(MediaEngine& engine, Options options) : engine_(engine), options_(std::move(options))
{
    required(options_.platform.defaults, "WickerlaneApp", "a settings store");
    identity_ = std::make_shared<DeviceIdentity>(required(options_.platform.keys, "WickerlaneApp", "a key store"));
    options_.platform.timers = requiredTimers(std::move(options_.platform.timers), "WickerlaneApp");
    if (!options_.messenger.identity.deviceKey)
        options_.messenger.identity =
            MailIdentity::of(identity_, options_.platform.defaults, MailIdentity::computerName());
    // Every part finds the service where the platform's information says.
    IntroductionService::requiredBaseURL(options_.platform.info, "WickerlaneApp");
    if (!options_.messenger.serviceURL)
        options_.messenger.serviceURL = [info = options_.platform.info] { return IntroductionService::baseURL(*info); };
    if (!options_.messenger.identity.defaults)
        options_.messenger.identity.defaults = [settings = options_.platform.defaults]() -> Defaults& {
            return *settings;
        };
    // The messenger asks, notifies and waits through the platform's prompts, notifier and
    // timers, as every other part does; naming others there is a wiring mistake.
    if (options_.messenger.prompts || options_.messenger.notifier || options_.messenger.timers)
        wiringMistake("WickerlaneApp was given the messenger's prompts, notifier or timers beside the platform's");
    options_.messenger.prompts = required(options_.platform.prompts, "WickerlaneApp", "prompts").get();
    options_.messenger.notifier = required(options_.platform.notifier, "WickerlaneApp", "a notifier").get();
    options_.messenger.timers = options_.platform.timers;
    required(options_.platform.ownerCheck, "WickerlaneApp", "an owner check");
}

WickerlaneApp::~WickerlaneApp()
{
    Notifier& notifier = *options_.messenger.notifier;
    if (services_)
        notifier.onActivated = nullptr;
    menuBarExtra_.reset();
    mainWindow_.reset();
    updates_.reset();
    viewer_.reset();
    host_.reset();
    services_.reset();
}

bool WickerlaneApp::start()
{
    if (services_)
        return true;
    // Closing the main window leaves the program in the tray.
    QGuiApplication::setQuitOnLastWindowClosed(false);

    // Before anything reads the paired computers, the history or the keys.
    if (options_.migrate)
        options_.migrate();
    else
        migrateFormerHelperProgram(*options_.platform.defaults, *identity_);
    if (!(options_.identityReadable ? options_.identityReadable()
                                    : identityReadableOrQuit(*identity_, *options_.platform.prompts)))
        return false;
    services_ =
        std::make_unique<AppServices>(options_.messenger, *options_.platform.ownerCheck, options_.platform.timers);
    host_ =
        std::make_unique<HostController>(*services_, engine_, HostController::Options{options_.platform, identity_});
    ViewerController::Options viewerOptions = options_.viewer;
    viewerOptions.platform = options_.platform;
    viewerOptions.identity = identity_;
    viewer_ = std::make_unique<ViewerController>(*services_, engine_, std::move(viewerOptions));
    installShellPanels(*services_->passwords, host_->askForHelpPanel(), options_.platform.captureExclusion,
                       options_.platform.timers);
    QPointer<HostController> host(host_.get());
    QPointer<ViewerController> viewer(viewer_.get());
    services_->isBeingHelped = [host] { return host && host->helperName().has_value(); };
    services_->isHelping = [viewer] { return viewer && viewer->isHelping(); };
    services_->myMacs->notifyChange();
    services_->messenger->start();
    Log::line("Wickerlane: this computer's device id is " + services_->messenger->identity().deviceId());

    Updates::MakeUpdater makeUpdater = options_.makeUpdater;
    if (!makeUpdater)
        makeUpdater = [prompts = options_.platform.prompts, settings = options_.platform.defaults,
                       timers = options_.platform.timers](const QUrl& feed, const std::string& publicKey) {
            return makeDesktopUpdater(feed, publicKey, *prompts, settings, timers);
        };
    updates_ = std::make_unique<Updates>(std::move(makeUpdater), options_.platform.info, options_.platform.timers);
    AppServices* hub = services_.get(); // lives as long as the updater
    updates_->isIdle = [hub] { return !hub->isBeingHelped() && !hub->isHelping(); };
    updates_->start();

    mainWindow_ =
        std::make_unique<MainWindow>(options_.platform.defaults, options_.platform.timers, *options_.platform.prompts);
    mainWindow_->setViewer(viewer_.get());
    if (!viewer_->hosts().devices().empty()) {
        // After launch has finished: on the next turn of the event loop.
        QTimer::singleShot(0, mainWindow_.get(), [this] { openMainWindow(); });
    }

    if (options_.showTray) {
        HostMenu::Actions actions;
        actions.openMainWindow = [this] { openMainWindow(); };
        actions.hasUpdater = [this] { return updates_ && updates_->controller(); };
        actions.checkForUpdates = [this] {
            if (updates_)
                updates_->checkForUpdates();
        };
        actions.quit = options_.quit ? options_.quit : [settings = options_.platform.defaults] { quitNow(*settings); };
        menuBarExtra_ = std::make_unique<MenuBarExtra>(*host_, *viewer_, std::move(actions));
        menuBarExtra_->show();
        // The session banner keeps clear of the tray icon.
        host_->session().banner().trayIconGeometry = [this] {
            return menuBarExtra_ ? menuBarExtra_->trayIcon().geometry() : QRect();
        };
    }

    Notifier& notifier = *options_.messenger.notifier;
    notifier.onActivated = [this](const std::string& identifier) { notificationClicked(identifier); };
    return true;
}

void WickerlaneApp::openMainWindow()
{
    if (mainWindow_)
        mainWindow_->present();
}

void WickerlaneApp::reopen()
{
    openMainWindow();
}

void WickerlaneApp::notificationClicked(const std::string& identifier)
{
    if (!services_)
        return;
    if (identifier.rfind("online-", 0) == 0)
        return openMainWindow();
    const auto message = services_->messenger->message(identifier);
    if (!message)
        return;
    using K = MailContent::Kind;
    const auto& content = message->content;
    if (content.kind == K::password)
        return host_->passwords().panel().show();
    if (content.kind == K::reply && content.replyTo) {
        if (const auto& active = host_->helpRequests().active())
            for (const auto& [helperId, requestId] : active->sent)
                if (requestId == *content.replyTo)
                    return host_->askForHelpPanel().show(host_->helpRequests());
    }
    if (content.kind == K::message || content.kind == K::reply) {
        for (const auto& device : viewer_->hosts().devices())
            if (device.id == message->peerId)
                return openMainWindow();
        return host_->pairedHelpers().composeMessage(*message);
    }
    openMainWindow();
}

} // namespace wl
