#pragma once
// The "Send a Password" panel of the password centre: made on the first show and kept.
// Every show puts a new, empty form into it for the device (answering the request when
// given), centres it and brings it to the front. A form closes the panel only while the
// panel still hosts that form: a send that finishes after its form was cancelled and
// replaced leaves the newer form alone. The window is the application shell's (see
// PasswordCenter::setWindowMakers); without a maker, show() only counts.

#include "mail/PanelWindow.h"
#include "mail/StoredMessage.h"
#include "protocol/PairedDevice.h"

#include "mail/PasswordCenter.h"

#include <QPointer>

#include <functional>
#include <memory>
#include <optional>

namespace wl {

// The panel as the shell makes it: it hosts one form at a time.
class SendPasswordWindow : public PanelWindow {
public:
    // Replaces the form with a new one for the device and request; `close` closes the
    // panel while it still hosts this form.
    virtual void host(const PairedDevice& device, const std::optional<StoredMessage>& request,
                      std::function<void()> close) = 0;
};

class SendPasswordPanelController {
public:
    explicit SendPasswordPanelController(PasswordCenter* center);
    ~SendPasswordPanelController();

    // Opens (or brings forward) the panel for sending a password to `device`, answering
    // `request` when given. Nothing happens when the centre is gone.
    void show(const PairedDevice& device, const std::optional<StoredMessage>& request = std::nullopt);

    int shownCount() const { return shown_; }
    SendPasswordWindow* panel() const { return panel_.get(); }

private:
    QPointer<PasswordCenter> center_;
    std::unique_ptr<SendPasswordWindow> panel_;
    std::shared_ptr<int> form_ = std::make_shared<int>(0); // the form the panel hosts
    int shown_ = 0;
};

} // namespace wl
