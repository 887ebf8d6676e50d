#include "mail/PasswordsPanelController.h"

#include "mail/PasswordCenter.h"

namespace wl {

PasswordsPanelController::PasswordsPanelController(PasswordCenter* center) : center_(center) { }

void PasswordsPanelController::show()
{
    if (!center_)
        return;
    ++shown_;
}

} // namespace wl
