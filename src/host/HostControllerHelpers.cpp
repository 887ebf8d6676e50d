// The paired helpers: pairing a new one, unattended access with its PIN, removing one,
// replying to one.
#include "host/HostController.h"

#include "host/PairingPanelController.h"
#include "host/SessionHistory.h"
#include "identity/Base64.h"
#include "identity/DeviceIdentity.h"
#include "identity/Keys.h"
#include "mail/Messenger.h"
#include "mail/PairingHost.h"
#include "platform/Log.h"
#include "platform/Prompts.h"
#include "platform/ShownText.h"
#include "platform/SystemServices.h"

#include <QPointer>
#include <QTimer>

#include <sstream>

namespace wl {

std::string HostController::firstWord(const std::string& name)
{
    const std::string shown = shownName(name);
    std::istringstream words(shown);
    std::string first;
    if (words >> first)
        return first;
    return shown;
}

void HostController::startPairing()
{
    if (pairing_)
        return;
    QPointer<HostController> self(this);
    pairing_ = std::make_unique<PairingHost>(newPairingCode(), options_.timers);
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
    setPublished(isPairing_, true);
    pairing_->start();
    pairingPanel_->show(pairing_->code(), [self] {
        if (self && self->pairing_)
            self->pairing_->finish();
    });
}

void HostController::confirmPairing(const std::string& name, const std::string& publicKey, const std::string& number)
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
    QPointer<HostController> self(this);
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
            setHelpers(std::move(next));
            appendSessionHistory("Paired with helper " + shownName(name));
            stored = true;
        } else {
            Log::line("Wickerlane: the helper's key gives no device id; pairing declined");
        }
    }
    if (pairing_)
        pairing_->answer(stored);
}

void HostController::pairingFailed(const std::optional<std::string>& reason)
{
    pairing_.reset();
    setPublished(isPairing_, false);
    pairingPanel_->close();
    if (!reason)
        return;
    AlertRequest alert;
    alert.title = "Pairing didn't finish";
    alert.informativeText = *reason;
    alert.floating = true;
    prompts().alert(alert);
}

void HostController::allowUnattendedAccess(const PairedDevice& given)
{
    if (!helperIndex(given.id))
        return;
    if (!AdminPrompt::standard().askForAdminRights())
        return;
    auto pin = askForUnattendedPIN(given.name);
    if (!pin)
        return;
    auto index = helperIndex(given.id);
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
    setHelpers(std::move(next));
    appendSessionHistory("Unattended access turned on for " + shownName(name) + (pin->empty() ? "" : " with a PIN"));
    tellHelpersAboutAccess();
}

std::optional<std::string> HostController::askForUnattendedPIN(const std::string& name)
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

void HostController::turnOffUnattendedAccess(const PairedDevice& given)
{
    auto index = helperIndex(given.id);
    if (!index)
        return;
    auto next = helpers_;
    next[*index].unattended.reset();
    const std::string name = next[*index].name;
    setHelpers(std::move(next));
    appendSessionHistory("Unattended access turned off for " + shownName(name));
    tellHelpersAboutAccess();
}

void HostController::removeHelper(const PairedDevice& helper)
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
    setHelpers(std::move(next));
    appendSessionHistory("Removed helper " + shownName(given.name));
    forgetChallenges(given.id, EndReason::accessRemoved);
    if (handshake_ && handshake_->helper.id == given.id)
        endSession(EndReason::accessRemoved);
}

void HostController::composeMessage(const StoredMessage& message)
{
    for (const auto& helper : helpers_) {
        if (helper.id == message.peerId) {
            messenger_.compose(helper, message);
            return;
        }
    }
}

} // namespace wl
