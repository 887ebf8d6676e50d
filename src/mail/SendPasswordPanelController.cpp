#include "mail/SendPasswordPanelController.h"

#include "mail/PasswordCenter.h"

namespace wl {

SendPasswordPanelController::SendPasswordPanelController(PasswordCenter* center) : center_(center) { }

void SendPasswordPanelController::show(const PairedDevice&, const std::optional<StoredMessage>&)
{
    if (!center_)
        return;
    ++shown_;
}

} // namespace wl
