#include "mail/MyMacs.h"

#include "identity/Base64.h"
#include "platform/Log.h"
#include "platform/Prompts.h"
#include "platform/ShownText.h"

#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace wl {

namespace {
const char* kAccepted = "accepted";
const char* kDeclined = "declined";

bool lists(const MyMacsRoster& roster, const std::string& id)
{
    return std::any_of(roster.macs.begin(), roster.macs.end(), [&](const RosterMac& mac) { return mac.id == id; });
}
} // namespace

MyMacs::MyMacs(Messenger& messenger, QObject* parent) : QObject(parent), messenger_(messenger)
{
    confirm = [this](const std::string& title, const std::string& informative, const std::string& yes,
                     const std::string& no) {
        AlertRequest alert;
        alert.title = title;
        alert.informativeText = informative;
        alert.buttons = {yes, no};
        return messenger_.prompts().alert(alert) == 0;
    };
    load();
}

void MyMacs::load()
{
    auto& settings = messenger_.defaults();
    if (auto bytes = settings.data(kRosterKey)) {
        auto signedRoster = SignedRoster::decode(*bytes);
        roster_ = signedRoster ? signedRoster->verified() : std::nullopt;
        if (!roster_)
            Log::line("Wickerlane: the stored My Macs roster doesn't verify; ignoring it");
    }
    for (auto& id : settings.stringList(kAskingKey))
        asking_.insert(id);
    for (auto& id : settings.stringList(kAcceptedKey))
        accepted_.insert(id);
}

void MyMacs::saveSets()
{
    auto& settings = messenger_.defaults();
    settings.setStringList(kAskingKey, {asking_.begin(), asking_.end()});
    settings.setStringList(kAcceptedKey, {accepted_.begin(), accepted_.end()});
}

RosterMac MyMacs::ownEntry() const
{
    const auto& identity = messenger_.identity();
    auto key = identity.deviceKey ? identity.deviceKey() : std::nullopt;
    return RosterMac{identity.deviceId(), key ? key->publicKeyBase64() : std::string(),
                     identity.deviceName ? identity.deviceName() : std::string("Computer")};
}

std::vector<PairedDevice> MyMacs::devices() const
{
    std::vector<PairedDevice> out;
    if (!roster_)
        return out;
    auto own = messenger_.identity().deviceId();
    auto now = messenger_.now();
    for (auto& mac : roster_->macs) {
        if (mac.id == own)
            continue;
        PairedDevice device;
        device.id = mac.id;
        device.name = mac.name;
        device.publicKey = mac.publicKey;
        device.pairedAt = now;
        out.push_back(device);
    }
    return out;
}

bool MyMacs::isMine(const std::string& id) const
{
    return roster_ && id != messenger_.identity().deviceId() && lists(*roster_, id);
}

void MyMacs::notifyChange()
{
    auto macs = devices();
    for (auto& listener : onChange)
        if (listener)
            listener(macs, {});
}

void MyMacs::showSendFailure(const std::string& title, const Messenger::SendError& error)
{
    AlertRequest alert;
    alert.title = title;
    alert.informativeText = Messenger::sendErrorText(error);
    alert.style = AlertRequest::Style::warning;
    messenger_.prompts().alert(alert);
}

void MyMacs::ask(const PairedDevice& device)
{
    if (!confirm ||
        !confirm("Add " + shownName(device.name) + " to your Macs?",
                 "It will be asked to join. Your Macs can then help and ask each other.", "Ask", "Cancel"))
        return;
    asking_.insert(device.id);
    saveSets();
    Q_EMIT changed();
    MailContent content;
    content.kind = MailContent::Kind::linkRequest;
    content.sentAt = messenger_.now();
    QPointer<MyMacs> self(this);
    messenger_.send(content, device, [self, device](Messenger::SendResult result) {
        if (!self || result.ok())
            return;
        // Not asked after all: let the user try again.
        self->asking_.erase(device.id);
        self->saveSets();
        Q_EMIT self->changed();
        self->showSendFailure("Couldn't ask " + device.name, *result.error);
    });
}

void MyMacs::handleLinkRequest(const MailContent&, const PairedDevice& sender)
{
    // Asked on the next turn of the main loop, so the mail is acknowledged first.
    QPointer<MyMacs> self(this);
    QTimer::singleShot(0, this, [self, sender] {
        if (!self)
            return;
        bool yes = self->confirm &&
            self->confirm("Join " + shownName(sender.name) + "'s Macs?",
                          shownName(sender.name) +
                              " asks to add this computer to its Macs. Your Macs can help and ask "
                              "each other.",
                          "Join", "Don't Join");
        if (yes) {
            self->accepted_.insert(sender.id);
            self->saveSets();
        }
        MailContent reply;
        reply.kind = MailContent::Kind::linkReply;
        reply.sentAt = self->messenger_.now();
        reply.text = yes ? kAccepted : kDeclined;
        self->messenger_.send(reply, sender, [sender](Messenger::SendResult result) {
            if (!result.ok())
                Log::line("Wickerlane: the answer to " + sender.name + "'s My Macs request wasn't sent");
        });
    });
}

void MyMacs::handleLinkReply(const MailContent& content, const PairedDevice& sender)
{
    if (!asking_.count(sender.id)) {
        Log::line("Wickerlane: ignored a My Macs answer nobody asked for");
        return;
    }
    asking_.erase(sender.id);
    saveSets();
    Q_EMIT changed();
    if (content.text != std::optional<std::string>(kAccepted))
        return;
    const auto& identity = messenger_.identity();
    auto personKey = identity.personKey ? identity.personKey() : std::nullopt;
    if (!personKey) {
        Log::line("Wickerlane: can't add to My Macs: the person key can't be read");
        return;
    }
    MyMacsRoster next;
    if (roster_ && roster_->person == personKey->publicKeyBase64()) {
        next = *roster_;
        next.version += 1;
    } else {
        next.person = personKey->publicKeyBase64();
        next.version = roster_ ? roster_->version + 1 : 1;
        next.macs = {ownEntry()};
    }
    if (!lists(next, ownEntry().id))
        next.macs.insert(next.macs.begin(), ownEntry());
    if (!lists(next, sender.id))
        next.macs.push_back(RosterMac{sender.id, sender.publicKey, sender.name});
    publish(next, {}, sender.id, {});
}

void MyMacs::publish(const MyMacsRoster& roster, const std::vector<std::string>& removedIds,
                     const std::string& newcomer, const std::vector<PairedDevice>& alsoTo)
{
    const auto& identity = messenger_.identity();
    auto personKey = identity.personKey ? identity.personKey() : std::nullopt;
    if (!personKey || personKey->publicKeyBase64() != roster.person) {
        Log::line("Wickerlane: can't sign the My Macs roster: the person key can't be read");
        return;
    }
    auto signedRoster = SignedRoster::sign(roster, *personKey);
    adopt(signedRoster, removedIds);

    std::vector<PairedDevice> recipients;
    auto own = identity.deviceId();
    for (auto& mac : roster.macs) {
        if (mac.id == own)
            continue;
        auto known = messenger_.contact(mac.id);
        recipients.push_back(known ? *known : PairedDevice{mac.id, mac.name, mac.publicKey, 0, {}, {}});
    }
    for (auto& device : alsoTo)
        recipients.push_back(device);
    for (auto& device : recipients) {
        MailContent content;
        content.kind = MailContent::Kind::myMacs;
        content.sentAt = messenger_.now();
        content.roster = signedRoster;
        if (device.id == newcomer)
            content.personKey = base64Encode(personKey->raw());
        messenger_.send(content, device, [device](Messenger::SendResult result) {
            if (!result.ok())
                Log::line("Wickerlane: the My Macs roster didn't reach " + device.name);
        });
    }
}

void MyMacs::adopt(std::optional<SignedRoster> signedRoster, const std::vector<std::string>& removedIds)
{
    auto& settings = messenger_.defaults();
    if (signedRoster) {
        roster_ = signedRoster->verified();
        settings.setData(kRosterKey, signedRoster->encode());
    } else {
        roster_.reset();
        settings.remove(kRosterKey);
    }
    Q_EMIT changed();
    auto macs = devices();
    for (auto& listener : onChange)
        if (listener)
            listener(macs, removedIds);
}

void MyMacs::handleRoster(const MailContent& content, const PairedDevice& sender)
{
    if (!content.roster) {
        Log::line("Wickerlane: ignored My Macs mail without a roster");
        return;
    }
    auto incoming = content.roster->verified();
    if (!incoming) {
        Log::line("Wickerlane: ignored a My Macs roster whose signature doesn't hold");
        return;
    }
    const auto& identity = messenger_.identity();
    auto own = identity.deviceId();

    // The first roster after this Mac said yes: it brings the person key.
    bool adoption = false;
    if (accepted_.count(sender.id) && lists(*incoming, own) && content.personKey) {
        auto raw = base64Decode(*content.personKey);
        auto key = raw ? SigningKey::fromRaw(*raw) : std::nullopt;
        if (key && key->publicKeyBase64() == incoming->person) {
            if (!identity.storePersonKey || !identity.storePersonKey(*key)) {
                Log::line("Wickerlane: can't keep the My Macs person key");
                return;
            }
            accepted_.erase(sender.id);
            saveSets();
            adoption = true;
        }
    }
    if (!adoption) {
        if (!roster_ || roster_->person != incoming->person) {
            Log::line("Wickerlane: ignored a My Macs roster of another person key");
            return;
        }
        if (incoming->version <= roster_->version) {
            Log::line("Wickerlane: ignored an older My Macs roster");
            return;
        }
    }

    std::vector<std::string> removed;
    if (roster_)
        for (auto& mac : roster_->macs)
            if (mac.id != own && !lists(*incoming, mac.id))
                removed.push_back(mac.id);
    if (!lists(*incoming, own)) {
        // This Mac was taken out: forget the roster and let go of the person key.
        removed.clear();
        if (roster_)
            for (auto& mac : roster_->macs)
                if (mac.id != own)
                    removed.push_back(mac.id);
        if (identity.storePersonKey)
            identity.storePersonKey(SigningKey::generate());
        adopt(std::nullopt, removed);
        return;
    }
    adopt(*content.roster, removed);
}

void MyMacs::remove(const PairedDevice& device)
{
    if (!roster_ || !lists(*roster_, device.id) || device.id == messenger_.identity().deviceId())
        return;
    auto next = *roster_;
    next.version += 1;
    next.macs.erase(
        std::remove_if(next.macs.begin(), next.macs.end(), [&](const RosterMac& mac) { return mac.id == device.id; }),
        next.macs.end());
    // The removed Mac hears of it too, so it lets go of the person key.
    auto known = messenger_.contact(device.id);
    publish(next, {device.id}, "", {known ? *known : device});
}

} // namespace wl
