#pragma once
// The program's objects, made once at start-up in a fixed order and kept for the life
// of the process: the services hub, the host controller, the viewer controller, the
// updater, the main window and the tray icon with the host's menu. main() makes one
// after choosing the platform backends and making the media engine; tests make one
// over their own fakes.
//
// Start-up, in order: closing the last window leaves the program running; the former
// helper program's things are brought over once; this computer's key is checked; the hub (messenger,
// password centre, My Macs), the host controller, then the viewer controller are made
// (so the host's registrations come first in every list of the hub); the hub gets its
// two questions; My Macs announces its roster; the messenger starts; the updater gets
// its idle question and starts; the main window gets the viewer controller and, when the
// helper's side has paired computers, opens on the next turn of the event loop; the tray
// icon shows.

#include "app/HostMenu.h"
#include "app/Updates.h"
#include "host/HostController.h"
#include "mail/AppServices.h"
#include "viewer/ViewerController.h"

#include <functional>
#include <memory>
#include <string>

namespace wl {

class DeviceIdentity;
class MainWindow;
class MediaEngine;
class MenuBarExtra;

class WickerlaneApp {
public:
    struct Options {
        // Its identity: this installation's keys and settings when empty; its prompts,
        // notifier and timers are the platform's (left empty here).
        MessengerOptions messenger;
        // The platform backends start-up chose; its settings, key store, timers, prompts,
        // notifier and owner check are required.
        Platform platform;
        // The viewer controller's own options; its platform and identity are this
        // installation's.
        ViewerController::Options viewer;
        // The first steps (the desktop's when empty): bringing over the former helper
        // program's things; whether this computer's key can be read (false: the user
        // chose Quit).
        std::function<void()> migrate;
        std::function<bool()> identityReadable;
        // The updater for a feed and key (the desktop's feed updater when empty).
        Updates::MakeUpdater makeUpdater;
        bool showTray = true;
        // "Quit Wickerlane": ends the process at once (quitNow when empty).
        std::function<void()> quit;
    };

    // engine: the program's media engine, which outlives it.
    WickerlaneApp(MediaEngine& engine, Options options);
    ~WickerlaneApp();

    // The start-up sequence; false when the user chose to quit (an unreadable key).
    bool start();

    // Shows the main window (made on first use), raised and activated.
    void openMainWindow();
    // The program was launched again: its main window shows, whatever is open already.
    void reopen();
    // Where a click on a notification (its identifier) leads: an online notice to the main
    // window, a received password to the passwords panel, a reply to the open help
    // request to the ask-for-help window, a help request to the main window, a message
    // from a helper to the reply prompt, one from a computer this one helps to the main
    // window.
    void notificationClicked(const std::string& identifier);

    // This installation's keys (in the platform's key store).
    const std::shared_ptr<DeviceIdentity>& identity() const { return identity_; }
    AppServices* services() const { return services_.get(); }
    HostController* host() const { return host_.get(); }
    ViewerController* viewer() const { return viewer_.get(); }
    Updates* updates() const { return updates_.get(); }
    MainWindow* mainWindow() const { return mainWindow_.get(); }
    MenuBarExtra* menuBarExtra() const { return menuBarExtra_.get(); }

private:
    MediaEngine& engine_;
    Options options_;
    std::shared_ptr<DeviceIdentity> identity_;
    std::unique_ptr<AppServices> services_;
    std::unique_ptr<HostController> host_;
    std::unique_ptr<ViewerController> viewer_;
    std::unique_ptr<Updates> updates_;
    std::unique_ptr<MainWindow> mainWindow_;
    std::unique_ptr<MenuBarExtra> menuBarExtra_;
};

} // namespace wl
