#pragma once
// Fixtures of the small windows: one installation with its own settings, keys, history,
// prompts and owner check, a clock the test sets, and a messenger and password centre
// wired as the services hub wires them. Other computers are just keys that seal
// passwords for it; `service` empty means a service that is not there (a loopback port
// of the installation's own that refuses: every send fails as offline).
#include "ManualTimers.h"
#include "ScriptedOwnerCheck.h"
#include "ScriptedPrompts.h"
#include "RecordingNotifier.h"
#include "RefusingPort.h"
#include "WaitUntil.h"

#include "identity/Keys.h"
#include "mail/MailIdentity.h"
#include "mail/Messenger.h"
#include "mail/PasswordCenter.h"
#include "platform/Defaults.h"
#include "platform/linux/QtTimers.h"
#include "protocol/MailEnvelope.h"

#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QUrl>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace wl::test {

inline constexpr Date kFixtureNow = 700000000; // a fixed "now"

struct Computer {
    std::string name;
    SigningKey device = SigningKey::generate();
    AgreementKey mail = AgreementKey::generate();
    std::string id() const { return fingerprintOfRaw(device.publicKeyRaw()); }
    PairedDevice record() const { return PairedDevice{id(), name, device.publicKeyBase64(), dateNow(), {}, {}}; }
};

struct Installation {
    explicit Installation(std::string name = "This Mac") : self{std::move(name)} { }

    // Builds the objects over the history; a frozen clock unless `frozen` is false.
    void make(const std::vector<StoredMessage>& history = {}, const std::string& serviceURL = {},
              OwnerCheck* check = nullptr)
    {
        passwords.reset();
        messenger.reset();
        defaults->setData("WLMessages", StoredMessage::encodeList(history));
        const QUrl service(QString::fromStdString(serviceURL.empty() ? noService.httpUrl() : serviceURL));
        expectOwnServiceAddress(service, self.name);
        MessengerOptions options;
        options.identity = MailIdentity::inMemory(defaults, self.name, self.device, self.mail, SigningKey::generate());
        options.serviceURL = [service] { return service; };
        options.notifier = &notifier;
        options.prompts = &prompts;
        options.timers = qtTimerFactory();
        options.clock = [this] { return frozen ? now : dateNow(); };
        auto contactsOf = [this] { return contacts; };
        messenger = std::make_unique<Messenger>("WLMessages", contactsOf, options);
        passwords =
            std::make_unique<PasswordCenter>(*messenger, contactsOf, check ? *check : ownerCheck, sweeps.factory());
        messenger->onReceive = [this](const StoredMessage& message) { passwords->handle(message); };
    }

    // A password `from` sent here, stored sealed as it arrived.
    StoredMessage receivedPassword(const Computer& from, const std::string& id, std::optional<std::string> label,
                                   const std::string& lifetime, Date expiresAt, const std::string& secret = "hunter2",
                                   Date at = kFixtureNow) const
    {
        MailContent content;
        content.kind = MailContent::Kind::password;
        content.sentAt = at;
        content.label = std::move(label);
        content.secret = secret;
        content.lifetime = lifetime;
        content.expiresAt = expiresAt;
        StoredMessage message;
        message.id = id;
        message.peerId = from.id();
        message.peerName = from.name.substr(0, from.name.find(' '));
        message.outgoing = false;
        message.sealed = MailEnvelope::seal(content, from.device, self.id(), self.mail.publicKeyBase64());
        content.secret.reset();
        message.content = content;
        message.at = at;
        return message;
    }

    // A password sent from here to `to`.
    static StoredMessage sentPassword(const Computer& to, const std::string& id, std::optional<std::string> label,
                                      const std::string& lifetime, Date expiresAt, Date at = kFixtureNow)
    {
        StoredMessage message;
        message.id = id;
        message.peerId = to.id();
        message.peerName = to.name.substr(0, to.name.find(' '));
        message.outgoing = true;
        message.content.kind = MailContent::Kind::password;
        message.content.sentAt = at;
        message.content.label = std::move(label);
        message.content.lifetime = lifetime;
        message.content.expiresAt = expiresAt;
        message.at = at;
        return message;
    }

    // A receipt ("delivered" or "opened") that came back for a sent password.
    static StoredMessage receipt(const Computer& from, const std::string& id, const std::string& replyTo,
                                 const std::string& text, Date at = kFixtureNow)
    {
        StoredMessage message;
        message.id = id;
        message.peerId = from.id();
        message.peerName = from.name;
        message.content.kind = MailContent::Kind::receipt;
        message.content.sentAt = at;
        message.content.replyTo = replyTo;
        message.content.text = text;
        message.at = at;
        return message;
    }

    Computer self;
    RefusingPort noService;
    std::shared_ptr<Defaults> defaults = std::make_shared<MemoryDefaults>();
    std::vector<PairedDevice> contacts;
    RecordingNotifier notifier;
    ScriptedPrompts prompts;
    ScriptedOwnerCheck ownerCheck;
    ManualTimers sweeps; // the password centre's, fired by no one
    bool frozen = true;
    Date now = kFixtureNow;
    std::unique_ptr<Messenger> messenger;
    std::unique_ptr<PasswordCenter> passwords;
};

// The child of `root` with this object name, of type T.
template <typename T>
T* child(QObject* root, const char* name)
{
    return root ? root->findChild<T*>(QString::fromLatin1(name)) : nullptr;
}

// The text of the label with this object name; "<missing>" when there is none, "<hidden>"
// when it is not shown.
inline std::string textOf(QWidget* root, const char* name)
{
    auto* label = child<QLabel>(root, name);
    if (!label)
        return "<missing>";
    if (!label->isVisibleTo(root))
        return "<hidden>";
    return label->text().toStdString();
}

} // namespace wl::test
