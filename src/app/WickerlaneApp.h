#pragma once
// The program's objects, made once at start-up in a fixed order and kept for the life
// of the process: the services hub, the host controller, the viewer controller and the
// helper's main window.
// main() makes one after choosing the platform backends; e2e tests make one over
// their own fakes.

#include "host/HostController.h"
#include "mail/AppServices.h"
#include "viewer/ViewerController.h"

#include <memory>

namespace wl {

class MainWindow;

class WickerlaneApp {
public:
    struct Options {
        MessengerOptions messenger; // the process-wide identity and services when empty
        OwnerCheck* ownerCheck = nullptr;
        HostController::Options host;
        ViewerController::Options viewer;
        bool showMainWindow = true;
    };

    WickerlaneApp();
    explicit WickerlaneApp(Options options);
    ~WickerlaneApp();

    // The start-up sequence: the hub, the host controller, the hub's questions, the
    // roster announced, the messenger started.
    void start();

    AppServices* services() const { return services_.get(); }
    HostController* host() const { return host_.get(); }
    ViewerController* viewer() const { return viewer_.get(); }
    MainWindow* mainWindow() const { return mainWindow_.get(); }

private:
    Options options_;
    std::unique_ptr<AppServices> services_;
    std::unique_ptr<HostController> host_;
    std::unique_ptr<ViewerController> viewer_;
    std::unique_ptr<MainWindow> mainWindow_;
};

} // namespace wl
