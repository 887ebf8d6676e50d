#pragma once
// One simulated installation for mail tests: its own settings, keys, clock, prompts,
// notifier and owner check, and a messenger, password centre and My Macs wired the way
// the services hub wires them.
#include "ManualTimers.h"
#include "RecordingNotifier.h"
#include "RefusingPort.h"
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

    // Builds the objects; `service` empty means a service that is not there (a loopback
    // port of this Mac's own that refuses).
    void make(const std::string& serviceURL)
    {
        const QUrl service(QString::fromStdString(serviceURL.empty() ? noService.httpUrl() : serviceURL));
        expectOwnServiceAddress(service, name);
        MessengerOptions options;
        options.identity = MailIdentity::inMemory(defaults, name, device, mail, person);
        options.serviceURL = [service] { return service; };
        options.notifier = &notifier;
        options.prompts = &prompts;
        options.timers = qtTimerFactory();
        options.clock = [this] { return clockOffset + dateNow(); };
        auto contactsOf = [this] { return contacts; };
        messenger = std::make_unique<Messenger>("WLMessages", contactsOf, options);
        passwords = std::make_unique<PasswordCenter>(*messenger, contactsOf, ownerCheck, sweeps.factory());
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
    RefusingPort noService;
    double clockOffset = 0;
    std::vector<PairedDevice> contacts;
    RecordingNotifier notifier;
    ScriptedPrompts prompts;
    ScriptedOwnerCheck ownerCheck;
    ManualTimers sweeps; // the password centre's, fired by no one
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
