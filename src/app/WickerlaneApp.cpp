#include "app/WickerlaneApp.h"

namespace wl {

WickerlaneApp::WickerlaneApp() : WickerlaneApp(Options{}) { }

WickerlaneApp::WickerlaneApp(Options options) : options_(std::move(options)) { }

WickerlaneApp::~WickerlaneApp() = default;

void WickerlaneApp::start()
{
    if (services_)
        return;
    services_ = std::make_unique<AppServices>(options_.messenger, options_.ownerCheck);
    services_->myMacs->notifyChange();
    services_->messenger->start();
}

} // namespace wl
