#pragma once
// The services hub: the one object the host side and the helper side share (the
// application shell makes it at start-up; it lives with the mail services it owns so
// that both controllers can take it without reaching up into the shell). It makes
// and owns the messenger, the password centre and My Macs, and is where the two
// controllers, which never refer to each other, meet: each adds its list of paired
// machines and its mail handlers, and each answers one question about itself.
// Main thread only.

#include "mail/Messenger.h"
#include "mail/MyMacs.h"
#include "mail/PasswordCenter.h"
#include "protocol/PairedDevice.h"

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

namespace wl {

class OwnerCheck;

class AppServices final : public QObject {
    Q_OBJECT
public:
    using ContactList = std::function<std::vector<PairedDevice>()>;
    using MailHandler = std::function<void(const StoredMessage&)>;
    using QuietHandler = std::function<void(const MailContent&, const PairedDevice&)>;

    // The messenger keeps its history under "WLMessages"; its identity, notifier, prompts
    // and timers (required) come with the options; the password centre asks ownerCheck and
    // sweeps on `timers` (required).
    AppServices(MessengerOptions options, OwnerCheck& ownerCheck, TimerFactory timers, QObject* parent = nullptr);
    ~AppServices() override;

    const std::unique_ptr<Messenger> messenger;
    const std::unique_ptr<PasswordCenter> passwords;
    const std::unique_ptr<MyMacs> myMacs;

    // Whether a helper is in session on this machine (the host controller answers).
    std::function<bool()> isBeingHelped = [] { return false; };
    // Whether this machine waits for or is connected to another as a helper (the
    // viewer controller answers).
    std::function<bool()> isHelping = [] { return false; };

    // Registered by the controllers as they are made; never removed.
    std::vector<ContactList> contactLists;
    std::vector<MailHandler> mailHandlers;
    std::vector<QuietHandler> quietHandlers;

    // Every machine paired in either role, each device id once (the first list's
    // entry wins), in registration order.
    std::vector<PairedDevice> allContacts() const;
    // The messenger's outlets.
    void deliverQuiet(const MailContent& content, const PairedDevice& sender);
    void deliverMail(const StoredMessage& message);
};

} // namespace wl
