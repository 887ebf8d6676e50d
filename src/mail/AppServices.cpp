#include "mail/AppServices.h"

#include "platform/MainThread.h"

#include <QPointer>

#include <set>

namespace wl {

namespace {
Messenger::Contacts contactsOf(AppServices* hub)
{
    QPointer<AppServices> weak(hub);
    return [weak] { return weak ? weak->allContacts() : std::vector<PairedDevice>{}; };
}
} // namespace

AppServices::AppServices(MessengerOptions options, OwnerCheck& ownerCheck, TimerFactory timers, QObject* parent)
    : QObject(parent), messenger(std::make_unique<Messenger>("WLMessages", contactsOf(this), std::move(options))),
      passwords(std::make_unique<PasswordCenter>(*messenger, contactsOf(this), ownerCheck, std::move(timers))),
      myMacs(std::make_unique<MyMacs>(*messenger))
{
    QPointer<AppServices> weak(this);
    messenger->onQuiet = [weak](const MailContent& content, const PairedDevice& sender) {
        if (weak)
            weak->deliverQuiet(content, sender);
    };
    messenger->onReceive = [weak](const StoredMessage& message) {
        if (weak)
            weak->deliverMail(message);
    };
}

AppServices::~AppServices()
{
    messenger->onQuiet = nullptr;
    messenger->onReceive = nullptr;
}

std::vector<PairedDevice> AppServices::allContacts() const
{
    std::vector<PairedDevice> result;
    std::set<std::string> seen;
    for (const auto& list : contactLists) {
        if (!list)
            continue;
        for (auto& device : list())
            if (seen.insert(device.id).second)
                result.push_back(std::move(device));
    }
    return result;
}

void AppServices::deliverQuiet(const MailContent& content, const PairedDevice& sender)
{
    assertMainThread("AppServices::deliverQuiet");
    using Kind = MailContent::Kind;
    switch (content.kind) {
    case Kind::linkRequest: myMacs->handleLinkRequest(content, sender); break;
    case Kind::linkReply: myMacs->handleLinkReply(content, sender); break;
    case Kind::myMacs: myMacs->handleRoster(content, sender); break;
    default: break;
    }
    // A handler may register no more handlers; copy so that one added meanwhile waits.
    auto handlers = quietHandlers;
    for (auto& handler : handlers)
        if (handler)
            handler(content, sender);
}

void AppServices::deliverMail(const StoredMessage& message)
{
    assertMainThread("AppServices::deliverMail");
    auto handlers = mailHandlers;
    for (auto& handler : handlers)
        if (handler)
            handler(message);
    passwords->handle(message);
}

} // namespace wl
