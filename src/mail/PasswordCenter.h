#pragma once
// Keeps received and sent passwords. A received password stays sealed in the history
// until its user reveals it after the owner check; the centre sends the "delivered" and
// "opened" receipts, works out what became of a sent password from the receipts that
// came back, and wipes the envelope of a received password the moment its time is over:
// one change of the centre, which every view of it (the Passwords window, the main
// window's passwords row, the host's menu) follows at once. While a received password
// waits for its end the centre looks again at least every 5 seconds, should the clock
// have jumped.

#include "mail/Messenger.h"
#include "mail/SentPasswordState.h"
#include "platform/OneShotTimer.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wl {

class OwnerCheck;
class PanelWindow;
class PasswordsPanelController;
class SendPasswordPanelController;
class SendPasswordWindow;

class PasswordCenter final : public QObject {
    Q_OBJECT
public:
    static constexpr double kMaximumLifetime = 3660; // seconds after it was stored
    static constexpr double kOnceGrace = 60; // seconds after a once-password was opened
    static constexpr double kSentListAge = 86400;
    static constexpr int kSweepIntervalMs = 5000; // the longest between two looks

    // ownerCheck confirms the owner before a received password is shown or copied; the
    // sweeps run on `timers` (required).
    PasswordCenter(Messenger& messenger, Messenger::Contacts contacts, OwnerCheck& ownerCheck, TimerFactory timers,
                   QObject* parent = nullptr);
    ~PasswordCenter() override;

    Messenger& messenger() const { return messenger_; }

    // When the password stops working: its expiresAt (else when it was stored), at most
    // 3660 s after it was stored, and for an opened once-password at most 60 s after opening.
    Date expiry(const StoredMessage& message) const;
    // For a message just stored: an incoming password gets its delivered receipt and shows
    // the panel; a cancel from its sender withdraws the named password.
    void handle(const StoredMessage& message);
    // Incoming passwords still sealed, in history order.
    std::vector<StoredMessage> received() const;
    // The secret after the owner check, or nullopt; `done` runs on the main thread.
    void reveal(const StoredMessage& message, const std::string& reason,
                std::function<void(std::optional<std::string>)> done);
    // Outgoing passwords of the last day, newest first.
    std::vector<StoredMessage> sent() const;
    // Outgoing passwords that answer the message with this id, in history order.
    std::vector<StoredMessage> sentTo(const std::string& id) const;
    SentPasswordState status(const StoredMessage& message, Date now) const;
    // Mails the recipient a cancel for the password; the state becomes unsent. `done`
    // (optional) runs on the main thread with nullopt once the cancel went out, else with
    // why it didn't, for the user (a recipient no longer paired fails at once). Failures
    // are logged.
    void unsend(const StoredMessage& message, std::function<void(std::optional<std::string> problem)> done = {});
    void didSend(const PairedDevice& device, const std::string& label);
    // Wipes the envelopes of received passwords past their expiry (run by the centre's
    // timer at the next expiry).
    void sweep();

    SendPasswordPanelController& composer();
    PasswordsPanelController& panel();

    // The windows of the two panels, made by the application shell.
    struct WindowMakers {
        std::function<std::unique_ptr<PanelWindow>(PasswordCenter&)> passwords;
        std::function<std::unique_ptr<SendPasswordWindow>(PasswordCenter&)> sendPassword;
    };
    void setWindowMakers(WindowMakers makers) { windowMakers_ = std::move(makers); }
    const WindowMakers& windowMakers() const { return windowMakers_; }

    // A readable line for each password sent, received or opened.
    std::function<void(const std::string&)> onActivity;

Q_SIGNALS:
    void changed();

private:
    void open(const std::string& id, const std::function<void(std::optional<std::string>)>& done);
    void sendReceipt(const StoredMessage& message, const std::string& text);
    std::optional<PairedDevice> contact(const std::string& id) const;
    // Sets the timer for the next received password's end (at most kSweepIntervalMs away).
    void scheduleSweep();

    Messenger& messenger_;
    Messenger::Contacts contacts_;
    OwnerCheck& ownerCheck_;
    TimerFactory timers_;
    std::unique_ptr<OneShotTimer> sweepTimer_;
    std::optional<Date> sweepFor_; // the end the timer is set for
    WindowMakers windowMakers_;
    std::unique_ptr<SendPasswordPanelController> composer_;
    std::unique_ptr<PasswordsPanelController> panel_;
};

} // namespace wl
