#pragma once
// The "Passwords" panel of the password centre. The window comes with the application
// shell; until then show() only notes the request.

#include "mail/PasswordCenter.h"

#include <QPointer>

namespace wl {

class PasswordsPanelController {
public:
    explicit PasswordsPanelController(PasswordCenter* center);

    // Opens the panel, or brings it to the front. Nothing happens when the centre is gone.
    void show();

    int shownCount() const { return shown_; }

private:
    QPointer<PasswordCenter> center_;
    int shown_ = 0;
};

} // namespace wl
