#pragma once
// The "Send a Password" panel of the password centre. The window comes with the
// application shell; until then show() only notes the request.

#include "mail/StoredMessage.h"
#include "protocol/PairedDevice.h"

#include "mail/PasswordCenter.h"

#include <QPointer>

#include <optional>

namespace wl {

class SendPasswordPanelController {
public:
    explicit SendPasswordPanelController(PasswordCenter* center);

    // Opens (or brings forward) the panel for sending a password to `device`, answering
    // `request` when given. Nothing happens when the centre is gone.
    void show(const PairedDevice& device, const std::optional<StoredMessage>& request = std::nullopt);

    int shownCount() const { return shown_; }

private:
    QPointer<PasswordCenter> center_;
    int shown_ = 0;
};

} // namespace wl
