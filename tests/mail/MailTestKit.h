#pragma once
// One simulated installation for mail tests: its own settings, keys, clock, prompts,
// notifier and owner check, and a messenger, password centre and My Macs wired the way
// the services hub wires them.
#include "RecordingNotifier.h"
#include "ScriptedOwnerCheck.h"
#include "ScriptedPrompts.h"
#include "ServiceProcess.h"
#include "WaitUntil.h"

#include "identity/Keys.h"
#include "mail/MailboxLink.h"
#include "mail/Messenger.h"
#include "mail/MyMacs.h"
#include "mail/PasswordCenter.h"
#include "platform/Defaults.h"
#include "platform/linux/QtTimers.h"

#include <QUrl>

#include <memory>
#include <string>
#include <vector>

namespace wl::test {

struct Mac {
    explicit Mac(std::string name, std::shared_ptr<Defaults> settings = nullptr)
        : name(std::move(name)), defaults(settings ? settings : std::make_shared<MemoryDefaults>()),
          device(SigningKey::generate()), mail(AgreementKey::generate()), person(SigningKey::generate())
    {
    }

    // Builds the objects; `service` empty means a service that is not there.
    void make(const std::string& serviceURL)
    {
        MessengerOptions options;
        options.identity = MailIdentity::inMemory(defaults, name, device, mail, person);
        options.serviceURL = [serviceURL] { return QUrl(QString::fromStdString(serviceURL)); };
        options.notifier = &notifier;
        options.prompts = &prompts;
        options.timers = timers;
        options.clock = [this] { return clockOffset + dateNow(); };
        auto contactsOf = [this] { return contacts; };
        messenger = std::make_unique<Messenger>("WLMessages", contactsOf, options);
        passwords = std::make_unique<PasswordCenter>(*messenger, contactsOf, ownerCheck, options.timers);
        myMacs = std::make_unique<MyMacs>(*messenger);
        myMacs->confirm = [this](const std::string& title, const std::string&, const std::string&, const std::string&) {
            confirmations.push_back(title);
            return confirmAnswer;
        };
        messenger->onQuiet = [this](const MailContent& content, const PairedDevice& sender) {
            using K = MailContent::Kind;
            if (content.kind == K::linkRequest)
                myMacs->handleLinkRequest(content, sender);
            else if (content.kind == K::linkReply)
                myMacs->handleLinkReply(content, sender);
            else if (content.kind == K::myMacs)
                myMacs->handleRoster(content, sender);
            quiet.push_back(content);
        };
        messenger->onReceive = [this](const StoredMessage& message) {
            received.push_back(message);
            passwords->handle(message);
        };
    }

    void destroy()
    {
        myMacs.reset();
        passwords.reset();
        messenger.reset();
    }

    std::string id() const { return fingerprintOfRaw(device.publicKeyRaw()); }
    PairedDevice record() const { return PairedDevice{id(), name, device.publicKeyBase64(), dateNow(), {}, {}}; }
    void pairWith(const Mac& other) { contacts.push_back(other.record()); }

    // Starts the messenger and waits until its mailbox link is open and its key record is out.
    bool start(ServiceProcess& service)
    {
        messenger->start();
        return waitUntil([&] {
            return messenger->mailboxLink() && messenger->mailboxLink()->isOpen() &&
                ServiceProcess::httpRequest(service.port(), "GET", "/v1/keys/" + id()) == 200;
        });
    }

    std::string name;
    std::shared_ptr<Defaults> defaults;
    SigningKey device;
    AgreementKey mail;
    SigningKey person;
    double clockOffset = 0;
    TimerFactory timers = qtTimerFactory(); // the messenger's and the password centre's
    std::vector<PairedDevice> contacts;
    RecordingNotifier notifier;
    ScriptedPrompts prompts;
    ScriptedOwnerCheck ownerCheck;
    bool confirmAnswer = true;
    std::vector<std::string> confirmations;
    std::vector<MailContent> quiet;
    std::vector<StoredMessage> received;
    std::unique_ptr<Messenger> messenger;
    std::unique_ptr<PasswordCenter> passwords;
    std::unique_ptr<MyMacs> myMacs;
};

// Sends and waits for the outcome.
inline Messenger::SendResult sendAndWait(Messenger& messenger, const MailContent& content, const PairedDevice& to)
{
    std::optional<Messenger::SendResult> outcome;
    messenger.send(content, to, [&](Messenger::SendResult result) { outcome = result; });
    waitUntil([&] { return outcome.has_value(); }, 10000);
    return outcome.value_or(Messenger::SendResult{std::nullopt, Messenger::SendError::refused(-1)});
}

inline MailContent textMail(const std::string& text, MailContent::Kind kind = MailContent::Kind::message)
{
    MailContent content;
    content.kind = kind;
    content.sentAt = dateNow();
    content.text = text;
    return content;
}

} // namespace wl::test
