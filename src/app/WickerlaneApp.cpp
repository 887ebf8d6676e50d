#include "app/WickerlaneApp.h"

#include "app/MainWindow.h"
#include "platform/Log.h"

#include <QTimer>

#include <QPointer>

namespace wl {

WickerlaneApp::WickerlaneApp() : WickerlaneApp(Options{}) { }

WickerlaneApp::WickerlaneApp(Options options) : options_(std::move(options)) { }

WickerlaneApp::~WickerlaneApp()
{
    mainWindow_.reset();
    viewer_.reset();
    host_.reset();
    services_.reset();
}

void WickerlaneApp::start()
{
    if (services_)
        return;
    services_ = std::make_unique<AppServices>(options_.messenger, options_.ownerCheck);
    host_ = std::make_unique<HostController>(*services_, options_.host);
    viewer_ = std::make_unique<ViewerController>(*services_, options_.viewer);
    QPointer<HostController> host(host_.get());
    QPointer<ViewerController> viewer(viewer_.get());
    services_->isBeingHelped = [host] { return host && host->helperName().has_value(); };
    services_->isHelping = [viewer] { return viewer && viewer->isHelping(); };
    services_->myMacs->notifyChange();
    services_->messenger->start();
    Log::line("Wickerlane: this computer's device id is " + services_->messenger->identity().deviceId());
    mainWindow_ = std::make_unique<MainWindow>(*viewer_);
    if (options_.showMainWindow) {
        QPointer<MainWindow> window(mainWindow_.get());
        QTimer::singleShot(0, window, [window] {
            if (window)
                window->present();
        });
    }
}

} // namespace wl
