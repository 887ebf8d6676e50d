#include "mail/PasswordsPanelController.h"

#include "mail/PasswordCenter.h"

namespace wl {

PasswordsPanelController::PasswordsPanelController(PasswordCenter* center) : center_(center) { }

PasswordsPanelController::~PasswordsPanelController() = default;

void PasswordsPanelController::show()
{
    if (!center_)
        return;
    ++shown_;
    if (!panel_) {
        const auto& make = center_->windowMakers().passwords;
        if (!make)
            return;
        panel_ = make(*center_);
        if (!panel_)
            return;
        panel_->centre();
    }
    panel_->present();
}

} // namespace wl
