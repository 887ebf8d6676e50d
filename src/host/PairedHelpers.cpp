// The paired helpers: pairing a new one, unattended access with its PIN, removing one,
// replying to one, and the access notices they are sent.
#include "host/PairedHelpers.h"

#include "platform/Required.h"

#include "host/PairingPanelController.h"
#include "host/SessionHistory.h"
#include "identity/Base64.h"
#include "identity/DeviceIdentity.h"
#include "identity/Keys.h"
#include "mail/Messenger.h"
#include "mail/PairingHost.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/Prompts.h"
#include "platform/ShownText.h"
#include "platform/SystemServices.h"
#include "signalling/IntroductionService.h"

#include <QPointer>
#include <QTimer>

#include <nlohmann/json.hpp>

#include <sstream>

namespace wl {

PairedHelpers::PairedHelpers(Messenger& messenger, Options options, QObject* parent)
    : QObject(parent), messenger_(messenger), options_(std::move(options)),
      store_(*required(options_.defaults, "PairedHelpers", "a settings store"), kPairedHelpersKey)
{
    required(options_.prompts, "PairedHelpers", "prompts");
    required(options_.identity, "PairedHelpers", "an identity");
    options_.timers = requiredTimers(std::move(options_.timers), "PairedHelpers");
    IntroductionService::requiredBaseURL(options_.info, "PairedHelpers");
    pairingPanel_ = std::make_unique<PairingPanelController>();
    helpers_ = store_.load();
}

PairedHelpers::~PairedHelpers() = default;

Prompts& PairedHelpers::prompts() const
{
    return *options_.prompts;
}

std::string PairedHelpers::firstWord(const std::string& name)
{
    const std::string shown = shownName(name);
    std::istringstream words(shown);
    std::string first;
    if (words >> first)
        return first;
    return shown;
}

void PairedHelpers::replaceAll(std::vector<PairedDevice> helpers)
{
    helpers_ = std::move(helpers);
    store_.save(helpers_);
    Q_EMIT changed();
}

std::optional<std::size_t> PairedHelpers::indexOf(const std::string& id) const
{
    for (std::size_t i = 0; i < helpers_.size(); ++i)
        if (helpers_[i].id == id)
            return i;
    return std::nullopt;
}

std::optional<PairedDevice> PairedHelpers::find(const std::string& id) const
{
    if (auto index = indexOf(id))
        return helpers_[*index];
    return std::nullopt;
}

std::optional<PairedDevice> PairedHelpers::findByKey(const std::string& publicKey) const
{
    for (const auto& helper : helpers_)
        if (helper.publicKey == publicKey)
            return helper;
    return std::nullopt;
}

void PairedHelpers::update(const PairedDevice& helper)
{
    auto index = indexOf(helper.id);
    if (!index)
        return;
    auto next = helpers_;
    next[*index] = helper;
    replaceAll(std::move(next));
}

std::optional<std::vector<PairedDevice>> PairedHelpers::mergedWith(const std::vector<PairedDevice>& roster,
                                                                   const std::set<std::string>& removed) const
{
    std::vector<PairedDevice> next;
    for (const auto& helper : helpers_)
        if (!removed.count(helper.id))
            next.push_back(helper);
    for (const auto& device : roster) {
        bool known = false;
        for (const auto& helper : next)
            known = known || helper.id == device.id;
        if (!known)
            next.push_back(device);
    }
    if (next == helpers_)
        return std::nullopt;
    return next;
}

// ---- pairing ----

void PairedHelpers::startPairing()
{
    if (pairing_)
        return;
    QPointer<PairedHelpers> self(this);
    pairing_ = std::make_unique<PairingHost>(newPairingCode(), options_.timers, options_.info);
    pairing_->signingKey = options_.identity->deviceSigningKey();
    pairing_->onRequest = [self](const std::string& name, const std::string& key, const std::string& number) {
        if (!self)
            return;
        // The question is modal: ask it once the pairing's message has been handled.
        QTimer::singleShot(0, self, [self, name, key, number] {
            if (self)
                self->confirmPairing(name, key, number);
        });
    };
    pairing_->onFinished = [self](const std::optional<std::string>& reason) {
        if (!self)
            return;
        QTimer::singleShot(0, self, [self, reason] {
            if (self)
                self->pairingFailed(reason);
        });
    };
    if (!isPairing_) {
        isPairing_ = true;
        Q_EMIT changed();
    }
    pairing_->start();
    pairingPanel_->show(pairing_->code(), [self] {
        if (self && self->pairing_)
            self->pairing_->finish();
    });
}

void PairedHelpers::confirmPairing(const std::string& name, const std::string& publicKey, const std::string& number)
{
    pairingPanel_->close();
    const std::string first = firstWord(name);
    AlertRequest alert;
    alert.title = shownName(name) + " wants to be able to help with this Mac";
    alert.informativeText = "Check that " + first + " sees this same number on their screen:\n\n" + number +
        "\n\nOnly allow this if the numbers match and you know " + first + ". " + first +
        " will still need your OK each time they want to help.";
    alert.buttons = {"Numbers match: Allow", "Don't Allow"};
    alert.floating = true;
    QPointer<PairedHelpers> self(this);
    const bool allowed = prompts().alert(alert) == 0;
    if (!self)
        return;

    // The helper is told "accepted" only when it was really stored: a key that gives
    // no device id stores nothing and is declined.
    bool stored = false;
    if (allowed) {
        if (auto id = keyFingerprint(publicKey)) {
            std::vector<PairedDevice> next;
            for (const auto& helper : helpers_)
                if (helper.id != *id)
                    next.push_back(helper);
            next.push_back(PairedDevice{*id, name, publicKey, messenger_.now(), std::nullopt, std::nullopt});
            replaceAll(std::move(next));
            appendSessionHistory("Paired with helper " + shownName(name));
            stored = true;
        } else {
            Log::line("Wickerlane: the helper's key gives no device id; pairing declined");
        }
    }
    if (pairing_)
        pairing_->answer(stored);
}

void PairedHelpers::pairingFailed(const std::optional<std::string>& reason)
{
    pairing_.reset();
    if (isPairing_) {
        isPairing_ = false;
        Q_EMIT changed();
    }
    pairingPanel_->close();
    if (!reason)
        return;
    AlertRequest alert;
    alert.title = "Pairing didn't finish";
    alert.informativeText = *reason;
    alert.floating = true;
    prompts().alert(alert);
}

// ---- unattended access, removing, replying ----

void PairedHelpers::allowUnattendedAccess(const PairedDevice& given)
{
    if (!indexOf(given.id))
        return;
    const AdminAnswer rights = options_.adminPrompt->askForAdminRights();
    if (rights.kind == AdminAnswer::Kind::cannotAsk) {
        prompts().alert(cannotAskForAdminRightsAlert(rights.problem));
        return;
    }
    if (!rights.isGranted())
        return;
    auto pin = askForUnattendedPIN(given.name);
    if (!pin)
        return;
    auto index = indexOf(given.id);
    if (!index)
        return;
    UnattendedGrant grant;
    grant.enabledAt = messenger_.now();
    grant.failedAttempts = 0;
    if (!pin->empty()) {
        const std::string salt = makePINSalt();
        grant.pinSalt = base64Encode(salt);
        grant.pinKey = base64Encode(derivePINKey(*pin, salt));
    }
    auto next = helpers_;
    next[*index].unattended = grant;
    const std::string name = next[*index].name;
    replaceAll(std::move(next));
    appendSessionHistory("Unattended access turned on for " + shownName(name) + (pin->empty() ? "" : " with a PIN"));
    tellAboutAccess();
}

AlertRequest PairedHelpers::cannotAskForAdminRightsAlert(const std::string& problem)
{
    AlertRequest alert;
    alert.title = "Unattended access wasn't turned on";
    alert.informativeText = problem;
    alert.style = AlertRequest::Style::warning;
    alert.floating = true;
    return alert;
}

std::optional<std::string> PairedHelpers::askForUnattendedPIN(const std::string& name)
{
    std::string hint;
    while (true) {
        TwoSecretsRequest request;
        request.title = "Set a PIN for " + shownName(name) + "?";
        request.informativeText = firstWord(name) +
            " will connect with their device and Touch ID. A PIN adds one more thing they must know. Leave both "
            "boxes empty for no PIN." +
            hint;
        request.firstPlaceholder = "PIN (6 or more digits)";
        request.secondPlaceholder = "Same PIN again";
        request.confirmTitle = "Turn On";
        request.cancelTitle = "Cancel";
        request.floating = true;
        auto answer = prompts().askForTwoSecrets(request);
        if (!answer)
            return std::nullopt;
        const auto& [first, second] = *answer;
        if (first.empty() && second.empty())
            return std::string();
        if (!isValidPIN(first)) {
            hint = "\n\nThe PIN must be at least 6 digits.";
            continue;
        }
        if (first != second) {
            hint = "\n\nThe two PINs didn't match.";
            continue;
        }
        return first;
    }
}

void PairedHelpers::turnOffUnattendedAccess(const PairedDevice& given)
{
    auto index = indexOf(given.id);
    if (!index)
        return;
    auto next = helpers_;
    next[*index].unattended.reset();
    const std::string name = next[*index].name;
    replaceAll(std::move(next));
    appendSessionHistory("Unattended access turned off for " + shownName(name));
    tellAboutAccess();
}

void PairedHelpers::removeHelper(const PairedDevice& helper)
{
    // A copy: the caller may hand in an entry of the list this changes.
    const PairedDevice given = helper;
    if (given.unattended) {
        MailContent content;
        content.kind = MailContent::Kind::access;
        content.unattended = false;
        content.sentAt = messenger_.now();
        messenger_.send(content, given);
    }
    std::vector<PairedDevice> next;
    for (const auto& helper : helpers_)
        if (helper.id != given.id)
            next.push_back(helper);
    replaceAll(std::move(next));
    appendSessionHistory("Removed helper " + shownName(given.name));
    if (onRemoved)
        onRemoved(given.id);
}

void PairedHelpers::composeMessage(const StoredMessage& message)
{
    for (const auto& helper : helpers_) {
        if (helper.id == message.peerId) {
            messenger_.compose(helper, message);
            return;
        }
    }
}

// ---- telling helpers about their access ----

namespace {

// A settings value holding a JSON object; empty when absent or of another shape.
nlohmann::json readObject(const Defaults& defaults, const char* key)
{
    auto bytes = defaults.data(key);
    if (!bytes)
        return nlohmann::json::object();
    auto json = nlohmann::json::parse(*bytes, nullptr, false);
    return json.is_object() ? json : nlohmann::json::object();
}

void writeObject(Defaults& defaults, const char* key, const nlohmann::json& json)
{
    defaults.setData(key, json.dump());
}

bool hasAccess(const PairedDevice& helper)
{
    return helper.unattended && helper.unattended->failedAttempts < PairedHelpers::kMaxWrongPINs;
}

} // namespace

void PairedHelpers::tellAboutAccess()
{
    const nlohmann::json told = readObject(*options_.defaults, kToldAccessKey);
    const nlohmann::json toldAt = readObject(*options_.defaults, kToldAccessAtKey);
    const Date now = messenger_.now();
    for (const auto& helper : helpers_) {
        if (tellingAccess_.count(helper.id))
            continue;
        const bool access = hasAccess(helper);
        bool tell = false;
        auto entry = told.find(helper.id);
        if (entry == told.end() || !entry->is_boolean()) {
            tell = access;
        } else if (!access) {
            tell = entry->get<bool>();
        } else {
            auto at = toldAt.find(helper.id);
            double last = at != toldAt.end() && at->is_number() ? at->get<double>() : -1e18;
            tell = !entry->get<bool>() || now - last > 604800;
        }
        if (!tell)
            continue;
        tellingAccess_.insert(helper.id);
        MailContent content;
        content.kind = MailContent::Kind::access;
        content.unattended = access;
        content.sentAt = now;
        QPointer<PairedHelpers> self(this);
        const std::string id = helper.id;
        messenger_.send(content, helper, [self, id, access](Messenger::SendResult result) {
            if (!self)
                return;
            self->tellingAccess_.erase(id);
            if (!result.ok())
                return;
            Defaults& defaults = *self->options_.defaults;
            nlohmann::json toldNow = readObject(defaults, kToldAccessKey);
            toldNow[id] = access;
            writeObject(defaults, kToldAccessKey, toldNow);
            nlohmann::json atNow = readObject(defaults, kToldAccessAtKey);
            atNow[id] = self->messenger_.now();
            writeObject(defaults, kToldAccessAtKey, atNow);
            // Access may have changed while this notice was on its way: tell the change now
            // rather than at the next check.
            QMetaObject::invokeMethod(
                self.data(),
                [self] {
                    if (self)
                        self->tellAboutAccess();
                },
                Qt::QueuedConnection);
        });
    }
}

} // namespace wl
