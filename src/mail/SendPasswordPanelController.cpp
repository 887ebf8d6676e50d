#include "mail/SendPasswordPanelController.h"

#include "mail/PasswordCenter.h"

namespace wl {

SendPasswordPanelController::SendPasswordPanelController(PasswordCenter* center) : center_(center) { }

SendPasswordPanelController::~SendPasswordPanelController()
{
    // Forms still waiting for a send must not reach a panel that is gone.
    *form_ = -1;
}

void SendPasswordPanelController::show(const PairedDevice& device, const std::optional<StoredMessage>& request)
{
    if (!center_)
        return;
    ++shown_;
    if (!panel_) {
        const auto& make = center_->windowMakers().sendPassword;
        if (!make)
            return;
        panel_ = make(*center_);
        if (!panel_)
            return;
    }
    const int form = ++*form_;
    std::weak_ptr<int> current = form_;
    SendPasswordWindow* panel = panel_.get();
    panel_->host(device, request, [current, form, panel] {
        auto hosted = current.lock();
        if (hosted && *hosted == form)
            panel->orderOut();
    });
    panel_->centre();
    panel_->present();
}

} // namespace wl
