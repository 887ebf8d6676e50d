#pragma once
// The "Passwords" panel of the password centre: made on the first show and kept, then
// brought to the front by every later one. The window is the application shell's: it
// gives the centre a maker (PasswordCenter::setWindowMakers); without one, show() only
// counts.

#include "mail/PanelWindow.h"
#include "mail/PasswordCenter.h"

#include <QPointer>

#include <memory>

namespace wl {

class PasswordsPanelController {
public:
    explicit PasswordsPanelController(PasswordCenter* center);
    ~PasswordsPanelController();

    // Opens the panel, or brings it to the front. Nothing happens when the centre is gone.
    void show();

    int shownCount() const { return shown_; }
    // The panel once made.
    PanelWindow* panel() const { return panel_.get(); }

private:
    QPointer<PasswordCenter> center_;
    std::unique_ptr<PanelWindow> panel_;
    int shown_ = 0;
};

} // namespace wl
