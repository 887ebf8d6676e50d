#include "mail/PasswordCenter.h"

#include "mail/PanelWindow.h"
#include "mail/PasswordsPanelController.h"
#include "mail/SendPasswordPanelController.h"
#include "platform/Log.h"
#include "platform/OwnerCheck.h"

#include <QPointer>

#include <algorithm>
#include <cmath>

namespace wl {

namespace {
using Kind = MailContent::Kind;

bool isPassword(const StoredMessage& message)
{
    return message.content.kind == Kind::password;
}
bool isOnce(const StoredMessage& message)
{
    return message.content.lifetime == std::optional<std::string>("once");
}

std::string passwordName(const StoredMessage& message)
{
    return message.content.label && !message.content.label->empty() ? "the " + *message.content.label + " password"
                                                                    : "a password";
}
} // namespace

PasswordCenter::PasswordCenter(Messenger& messenger, Messenger::Contacts contacts, OwnerCheck& ownerCheck,
                               TimerFactory timers, QObject* parent)
    : QObject(parent), messenger_(messenger), contacts_(std::move(contacts)), ownerCheck_(ownerCheck),
      timers_(requiredTimers(std::move(timers), "PasswordCenter"))
{
    // Views of the centre redraw when the history changes; a password that came, or was
    // opened, may end sooner than the one the timer waits for.
    connect(&messenger_, &Messenger::changed, this, &PasswordCenter::changed);
    connect(&messenger_, &Messenger::changed, this, &PasswordCenter::scheduleSweep);
    scheduleSweep();
}

PasswordCenter::~PasswordCenter() = default;

std::optional<PairedDevice> PasswordCenter::contact(const std::string& id) const
{
    if (contacts_)
        for (auto& device : contacts_())
            if (device.id == id)
                return device;
    return std::nullopt;
}

Date PasswordCenter::expiry(const StoredMessage& message) const
{
    Date end = std::min(message.content.expiresAt.value_or(message.at), message.at + kMaximumLifetime);
    if (isOnce(message) && message.openedAt)
        end = std::min(end, *message.openedAt + kOnceGrace);
    return end;
}

void PasswordCenter::sendReceipt(const StoredMessage& message, const std::string& text)
{
    auto device = contact(message.peerId);
    if (!device) {
        Log::line("Wickerlane: no paired Mac to send a password receipt to");
        return;
    }
    MailContent receipt;
    receipt.kind = Kind::receipt;
    receipt.sentAt = messenger_.now();
    receipt.replyTo = message.id;
    receipt.text = text;
    messenger_.send(receipt, *device, [text](Messenger::SendResult result) {
        if (!result.ok())
            Log::line("Wickerlane: the \"" + text + "\" receipt wasn't sent");
    });
}

void PasswordCenter::handle(const StoredMessage& message)
{
    if (message.outgoing)
        return;
    if (isPassword(message)) {
        sendReceipt(message, "delivered");
        if (onActivity)
            onActivity(message.peerName + " sent you " + passwordName(message));
        panel().show();
        return;
    }
    if (message.content.kind == Kind::cancel && message.content.replyTo) {
        // Only the Mac that sent a password can withdraw it.
        auto named = messenger_.message(*message.content.replyTo);
        if (!named || named->outgoing || !isPassword(*named) || named->peerId != message.peerId || !named->sealed)
            return;
        messenger_.updateMessage(named->id, [](StoredMessage& m) { m.sealed.reset(); });
        Q_EMIT changed();
    }
}

std::vector<StoredMessage> PasswordCenter::received() const
{
    std::vector<StoredMessage> out;
    for (auto& message : messenger_.messages())
        if (!message.outgoing && isPassword(message) && message.sealed)
            out.push_back(message);
    return out;
}

void PasswordCenter::reveal(const StoredMessage& message, const std::string& reason,
                            std::function<void(std::optional<std::string>)> done)
{
    auto current = messenger_.message(message.id).value_or(message);
    if (expiry(current) <= messenger_.now()) {
        if (done)
            done(std::nullopt);
        return;
    }
    auto& check = ownerCheck_;
    QPointer<PasswordCenter> self(this);
    check.check(reason, [self, id = message.id, done](bool confirmed) {
        if (!self || !confirmed) {
            if (done)
                done(std::nullopt);
            return;
        }
        self->open(id, done);
    });
}

void PasswordCenter::open(const std::string& id, const std::function<void(std::optional<std::string>)>& done)
{
    auto answer = [&](std::optional<std::string> secret) {
        if (done)
            done(std::move(secret));
    };
    auto message = messenger_.message(id);
    // Swept or withdrawn while the owner was asked, or expired meanwhile.
    if (!message || message->outgoing || !isPassword(*message) || !message->sealed ||
        expiry(*message) <= messenger_.now())
        return answer(std::nullopt);
    auto sender = contact(message->peerId);
    const auto& identity = messenger_.identity();
    auto mailKey = identity.mailKey ? identity.mailKey() : std::nullopt;
    if (!sender || !mailKey) {
        Log::line("Wickerlane: can't open the password: its sender or this Mac's mail key is gone");
        return answer(std::nullopt);
    }
    auto content = message->sealed->open(*mailKey, identity.deviceId(), sender->publicKey);
    if (!content || !content->secret) {
        Log::line("Wickerlane: the password doesn't open");
        return answer(std::nullopt);
    }
    // Opened once: a second reveal neither moves openedAt nor sends another receipt.
    if (!message->openedAt) {
        auto now = messenger_.now();
        messenger_.updateMessage(id, [now](StoredMessage& m) { m.openedAt = now; });
        sendReceipt(*message, "opened");
        if (onActivity)
            onActivity("Opened " + passwordName(*message) + " from " + message->peerName);
        Q_EMIT changed();
    }
    answer(content->secret);
}

std::vector<StoredMessage> PasswordCenter::sent() const
{
    auto now = messenger_.now();
    std::vector<StoredMessage> out;
    for (auto& message : messenger_.messages())
        if (message.outgoing && isPassword(message) && now - message.at < kSentListAge)
            out.push_back(message);
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a.at > b.at; });
    return out;
}

std::vector<StoredMessage> PasswordCenter::sentTo(const std::string& id) const
{
    std::vector<StoredMessage> out;
    for (auto& message : messenger_.messages())
        if (message.outgoing && isPassword(message) && message.content.replyTo == id)
            out.push_back(message);
    return out;
}

SentPasswordState PasswordCenter::status(const StoredMessage& message, Date now) const
{
    bool cancelled = false, opened = false, delivered = false;
    for (auto& other : messenger_.messages()) {
        if (other.content.replyTo != message.id || other.peerId != message.peerId)
            continue;
        if (other.outgoing && other.content.kind == Kind::cancel)
            cancelled = true;
        // Receipts count only from the Mac the password went to.
        if (!other.outgoing && other.content.kind == Kind::receipt) {
            if (other.content.text == std::optional<std::string>("opened"))
                opened = true;
            else if (other.content.text == std::optional<std::string>("delivered"))
                delivered = true;
        }
    }
    bool over = !message.content.expiresAt || now >= *message.content.expiresAt;
    if (cancelled)
        return SentPasswordState::unsent;
    if (opened)
        return isOnce(message) || !over ? SentPasswordState::opened : SentPasswordState::expired;
    if (over)
        return SentPasswordState::expired;
    if (delivered)
        return SentPasswordState::delivered;
    return SentPasswordState::sent;
}

void PasswordCenter::unsend(const StoredMessage& message, std::function<void(std::optional<std::string>)> done)
{
    auto device = contact(message.peerId);
    if (!device) {
        Log::line("Wickerlane: the password couldn't be withdrawn: its recipient is no longer paired");
        if (done)
            done(message.peerName + " is no longer paired with this Mac.");
        return;
    }
    MailContent cancel;
    cancel.kind = Kind::cancel;
    cancel.sentAt = messenger_.now();
    cancel.replyTo = message.id;
    QPointer<PasswordCenter> self(this);
    messenger_.send(cancel, *device, [self, done](Messenger::SendResult result) {
        if (!result.ok())
            Log::line("Wickerlane: the password couldn't be withdrawn: " + Messenger::sendErrorText(*result.error));
        if (done)
            done(result.ok() ? std::nullopt : std::optional<std::string>(Messenger::sendErrorText(*result.error)));
        if (self)
            Q_EMIT self->changed();
    });
}

void PasswordCenter::didSend(const PairedDevice& device, const std::string& label)
{
    if (onActivity)
        onActivity("Sent " + device.name + " a password for " + label);
    Q_EMIT changed();
}

void PasswordCenter::sweep()
{
    auto now = messenger_.now();
    std::vector<std::string> over;
    for (auto& message : messenger_.messages())
        if (!message.outgoing && isPassword(message) && message.sealed && expiry(message) <= now)
            over.push_back(message.id);
    for (auto& id : over)
        messenger_.updateMessage(id, [](StoredMessage& m) { m.sealed.reset(); });
    if (!over.empty())
        Q_EMIT changed();
    scheduleSweep();
}

void PasswordCenter::scheduleSweep()
{
    std::optional<Date> next;
    for (auto& message : messenger_.messages())
        if (!message.outgoing && isPassword(message) && message.sealed) {
            const Date end = expiry(message);
            if (!next || end < *next)
                next = end;
        }
    if (!next) {
        sweepTimer_.reset();
        sweepFor_.reset();
        return;
    }
    if (sweepTimer_ && sweepTimer_->isActive() && sweepFor_ == next)
        return;
    const double seconds = std::clamp(*next - messenger_.now(), 0.0, kSweepIntervalMs / 1000.0);
    QPointer<PasswordCenter> self(this);
    sweepFor_ = next;
    sweepTimer_ = timers_(std::chrono::milliseconds(static_cast<long long>(std::ceil(seconds * 1000))), [self] {
        if (self)
            self->sweep();
    });
}

SendPasswordPanelController& PasswordCenter::composer()
{
    if (!composer_)
        composer_ = std::make_unique<SendPasswordPanelController>(this);
    return *composer_;
}

PasswordsPanelController& PasswordCenter::panel()
{
    if (!panel_)
        panel_ = std::make_unique<PasswordsPanelController>(this);
    return *panel_;
}

} // namespace wl
