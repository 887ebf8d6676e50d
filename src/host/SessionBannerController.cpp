#include "host/SessionBannerController.h"

namespace wl {

void SessionBannerController::present(Actions actions)
{
    actions_ = std::move(actions);
    shown_ = true;
    refreshPlacement();
}

void SessionBannerController::hide()
{
    actions_ = {};
    shown_ = false;
}

void SessionBannerController::refreshPlacement() { }

} // namespace wl
