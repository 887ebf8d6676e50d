#include "app/WickerlaneApp.h"

#include "platform/Log.h"

#include <QPointer>

namespace wl {

WickerlaneApp::WickerlaneApp() : WickerlaneApp(Options{}) { }

WickerlaneApp::WickerlaneApp(Options options) : options_(std::move(options)) { }

WickerlaneApp::~WickerlaneApp()
{
    host_.reset();
    services_.reset();
}

void WickerlaneApp::start()
{
    if (services_)
        return;
    services_ = std::make_unique<AppServices>(options_.messenger, options_.ownerCheck);
    host_ = std::make_unique<HostController>(*services_, options_.host);
    QPointer<HostController> host(host_.get());
    services_->isBeingHelped = [host] { return host && host->helperName().has_value(); };
    // Until the helper's side is built, this machine is never helping another.
    services_->isHelping = [] { return false; };
    services_->myMacs->notifyChange();
    services_->messenger->start();
    Log::line("Wickerlane: this computer's device id is " + services_->messenger->identity().deviceId());
}

} // namespace wl
