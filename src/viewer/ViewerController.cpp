#include "viewer/ViewerController.h"

#include "identity/Base64.h"
#include "identity/DeviceIdentity.h"
#include "identity/Keys.h"
#include "identity/Random.h"
#include "mail/AppServices.h"
#include "mail/Messenger.h"
#include "mail/MyMacs.h"
#include "mail/PairingClient.h"
#include "mail/PasswordCenter.h"
#include "media/AudioIO.h"
#include "media/PlaybackAudioDevice.h"
#include "media/SessionAudioDevice.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/Notifier.h"
#include "platform/OwnerCheck.h"
#include "platform/Prompts.h"
#include "platform/ShownText.h"
#include "protocol/Date.h"
#include "protocol/MailContent.h"
#include "signalling/IntroductionService.h"
#include "signalling/WebSocketSignalChannel.h"
#include "viewer/ViewerPeer.h"

#include <QCollator>
#include <QPointer>
#include <QString>

#include <algorithm>
#include <cstdlib>

namespace wl {

namespace {

std::set<std::string> readSet(const char* key)
{
    auto list = Defaults::standard().stringList(key);
    return {list.begin(), list.end()};
}

// Trims spaces and tabs (no line breaks) at both ends.
std::string trimSpaces(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

} // namespace

ViewerController::ViewerController(AppServices& services, QObject* parent)
    : ViewerController(services, Options{}, parent)
{
}

ViewerController::ViewerController(AppServices& services, Options options, QObject* parent)
    : QObject(parent), services_(services), options_(std::move(options)), messenger_(*services.messenger),
      passwords_(*services.passwords), myMacs_(*services.myMacs)
{
    Defaults& defaults = Defaults::standard();
    // A stored Boolean false turns the sound off; anything else leaves it on.
    soundOn_ = !defaults.contains(kSoundOnKey) || !defaults.number(kSoundOnKey) || defaults.boolValue(kSoundOnKey);
    resolvedRequests_ = readSet(kResolvedRequestsKey);
    knownUnattended_ = readSet(kKnownUnattendedKey);
    notifyWhenOnline_ = readSet(kNotifyWhenOnlineKey);
    devices_ = deviceStore_.load();

    QPointer<ViewerController> self(this);
    services_.contactLists.push_back([self] { return self ? self->devices_ : std::vector<PairedDevice>{}; });
    refreshStatus();
    schedulePresence();
    services_.mailHandlers.push_back([self](const StoredMessage& message) {
        if (self)
            self->mailReceived(message);
    });
    services_.quietHandlers.push_back([self](const MailContent& content, const PairedDevice& sender) {
        if (self)
            self->handleAccessNotice(content, sender);
    });
    QObject::connect(&myMacs_, &MyMacs::changed, this, [this] { Q_EMIT changed(); });
    myMacs_.onChange.push_back(
        [self](const std::vector<PairedDevice>& roster, const std::vector<std::string>& removed) {
            if (self)
                self->myMacsRosterChanged(roster, removed);
        });
    // The open requests' pictures, fetched ahead so that they are there when looked at.
    for (const auto& request : messenger_.openHelpRequests(resolvedRequests_, messenger_.now())) {
        if (request.content.attachments.value_or(0) <= 0 || pictures_.count(request.id))
            continue;
        later(kLaunchPrefetchDelay, [self, request] {
            if (self)
                self->prefetchPictures(request, 1);
        });
    }
}

ViewerController::~ViewerController()
{
    statusTimer_.reset();
    statsTimer_.reset();
    noticeTimers_.clear();
    prefetchTimers_.clear();
    fetchers_.clear();
    if (pairing_)
        pairing_->finish();
    if (peer_)
        peer_->close();
    if (transport_) {
        transport_->onClose = nullptr;
        transport_->onMessage = nullptr;
        transport_->close();
    }
}

Prompts& ViewerController::prompts() const
{
    return options_.prompts ? *options_.prompts : Prompts::standard();
}

OwnerCheck& ViewerController::ownerCheck() const
{
    return options_.ownerCheck ? *options_.ownerCheck : OwnerCheck::standard();
}

Notifier& ViewerController::notifier() const
{
    return options_.notifier ? *options_.notifier : Notifier::standard();
}

bool ViewerController::isHelping() const
{
    return phase_.kind == Phase::Kind::waiting || phase_.kind == Phase::Kind::connected;
}

void ViewerController::setPhase(Phase phase)
{
    phase_ = std::move(phase);
    Q_EMIT changed();
}

void ViewerController::saveDevices()
{
    deviceStore_.save(devices_);
}

void ViewerController::saveSet(const char* key, const std::set<std::string>& ids)
{
    Defaults::standard().setStringList(key, std::vector<std::string>(ids.begin(), ids.end()));
}

void ViewerController::setResolvedRequests(std::set<std::string> ids)
{
    resolvedRequests_ = std::move(ids);
    saveSet(kResolvedRequestsKey, resolvedRequests_);
    Q_EMIT changed();
}

void ViewerController::setKnownUnattended(std::set<std::string> ids)
{
    knownUnattended_ = std::move(ids);
    saveSet(kKnownUnattendedKey, knownUnattended_);
    Q_EMIT changed();
}

void ViewerController::setNotifyWhenOnline(std::set<std::string> ids)
{
    notifyWhenOnline_ = std::move(ids);
    saveSet(kNotifyWhenOnlineKey, notifyWhenOnline_);
    Q_EMIT changed();
}

// ---- paired hosts, groups and presence ----

std::vector<std::pair<std::string, std::vector<PairedDevice>>> ViewerController::groupDevices() const
{
    const std::string own = ownDeviceId();
    std::vector<std::pair<std::string, std::vector<PairedDevice>>> groups;
    for (const auto& device : devices_) {
        std::string group;
        if (device.id != own && myMacs_.roster() &&
            std::any_of(myMacs_.roster()->macs.begin(), myMacs_.roster()->macs.end(),
                        [&](const auto& mac) { return mac.id == device.id; }))
            group = "My Macs";
        else if (device.person)
            group = *device.person;
        else
            group = device.name;
        auto it = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == group; });
        if (it == groups.end())
            groups.push_back({group, {device}});
        else
            it->second.push_back(device);
    }
    for (auto& group : groups)
        std::stable_sort(group.second.begin(), group.second.end(),
                         [](const PairedDevice& a, const PairedDevice& b) { return a.name < b.name; });
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(groups.begin(), groups.end(), [&](const auto& a, const auto& b) {
        const bool aMine = a.first == "My Macs", bMine = b.first == "My Macs";
        if (aMine != bMine)
            return aMine;
        return collator.compare(QString::fromStdString(a.first), QString::fromStdString(b.first)) < 0;
    });
    return groups;
}

void ViewerController::schedulePresence()
{
    QPointer<ViewerController> self(this);
    statusTimer_ = timers()(kPresenceInterval, [self] {
        if (!self)
            return;
        self->refreshStatus();
        self->schedulePresence();
    });
}

void ViewerController::refreshStatus()
{
    for (const auto& device : devices_) {
        QPointer<ViewerController> self(this);
        auto answer = [self, device](bool online) {
            if (self)
                self->setOnline(online, device);
        };
        if (options_.isOnline)
            options_.isOnline(device.id, answer);
        else
            IntroductionService::isOnline(device.id, answer, this);
    }
}

void ViewerController::setOnline(bool online, const PairedDevice& device)
{
    if (!online) {
        if (onlineIDs_.erase(device.id))
            Q_EMIT changed();
        return;
    }
    const bool added = onlineIDs_.insert(device.id).second;
    if (notifyWhenOnline_.count(device.id)) {
        auto ids = notifyWhenOnline_;
        ids.erase(device.id);
        setNotifyWhenOnline(std::move(ids));
        notifier().post(shownName(device.name) + " is online", "You can help now.", "online-" + device.id);
    } else if (added) {
        Q_EMIT changed();
    }
}

void ViewerController::removeDevice(const PairedDevice& device)
{
    std::erase_if(devices_, [&](const PairedDevice& d) { return d.id == device.id; });
    saveDevices();
    // A Mac no longer paired can't come online for this helper or admit it unattended.
    if (notifyWhenOnline_.count(device.id)) {
        auto ids = notifyWhenOnline_;
        ids.erase(device.id);
        setNotifyWhenOnline(std::move(ids));
    }
    if (knownUnattended_.count(device.id)) {
        auto ids = knownUnattended_;
        ids.erase(device.id);
        setKnownUnattended(std::move(ids));
    }
    Q_EMIT changed();
}

void ViewerController::setPerson(const PairedDevice& device)
{
    auto it = std::find_if(devices_.begin(), devices_.end(), [&](const PairedDevice& d) { return d.id == device.id; });
    if (it == devices_.end())
        return;
    TextRequest request;
    request.title = "Whose is " + shownName(it->name) + "?";
    request.informativeText = "Devices with the same person show together.";
    request.initialText = it->person.value_or("");
    request.confirmTitle = "Save";
    const std::string id = it->id;
    QPointer<ViewerController> self(this);
    std::optional<std::string> answer = prompts().askForText(request);
    if (!self)
        return;
    // Cancel keeps the person; only a confirmed empty answer clears it.
    if (!answer)
        return;
    it = std::find_if(devices_.begin(), devices_.end(), [&](const PairedDevice& d) { return d.id == id; });
    if (it == devices_.end())
        return;
    const std::string text = trimmedText(*answer);
    if (text.empty())
        it->person.reset();
    else
        it->person = text;
    saveDevices();
    Q_EMIT changed();
}

void ViewerController::removeFromMyMacs(const PairedDevice& device)
{
    if (!myMacs_.confirm)
        return;
    if (myMacs_.confirm("Remove " + device.name + " from your Macs?",
                        "It lets go of your person key, and your Macs stop being able to help and ask it. Pair it "
                        "again to help it.",
                        "Remove", "Cancel"))
        myMacs_.remove(device);
}

void ViewerController::toggleNotifyWhenOnline(const PairedDevice& device)
{
    auto ids = notifyWhenOnline_;
    if (!ids.erase(device.id))
        ids.insert(device.id);
    setNotifyWhenOnline(std::move(ids));
}

void ViewerController::handleAccessNotice(const MailContent& content, const PairedDevice& sender)
{
    if (content.kind != MailContent::Kind::access)
        return;
    if (std::none_of(devices_.begin(), devices_.end(), [&](const PairedDevice& d) { return d.id == sender.id; }))
        return;
    auto ids = knownUnattended_;
    if (content.unattended.value_or(false))
        ids.insert(sender.id);
    else
        ids.erase(sender.id);
    setKnownUnattended(std::move(ids));
}

void ViewerController::myMacsRosterChanged(const std::vector<PairedDevice>& roster,
                                           const std::vector<std::string>& removedIds)
{
    std::vector<PairedDevice> result;
    for (const auto& device : devices_)
        if (std::find(removedIds.begin(), removedIds.end(), device.id) == removedIds.end())
            result.push_back(device);
    for (const auto& mac : roster)
        if (std::none_of(result.begin(), result.end(), [&](const PairedDevice& d) { return d.id == mac.id; }))
            result.push_back(mac);
    if (result == devices_)
        return;
    devices_ = std::move(result);
    saveDevices();
    Q_EMIT changed();
    refreshStatus();
}

void ViewerController::backToDevices()
{
    setPhase(Phase::browsing());
    refreshStatus();
}

// ---- pairing ----

bool ViewerController::pair(const std::string& code, const std::string& name)
{
    auto normalized = normalizePairingCode(code);
    if (!normalized)
        return false;
    if (pairing_)
        pairing_->finish();
    auto client = std::make_unique<PairingClient>(*normalized);
    const std::string typed = trimSpaces(name);
    QPointer<ViewerController> self(this);
    client->onVerify = [self, typed](const std::string& hostName, const std::string& number) {
        if (self)
            self->pairingVerify(typed, hostName, number);
    };
    client->onPaired = [self, typed](const PairedDevice& device) {
        if (self)
            self->pairingSucceeded(typed, device);
    };
    client->onFailed = [self](const std::string& message) {
        if (self)
            self->pairingFailed(message);
    };
    // The previous client may still be inside its own callback: let it go later.
    if (pairing_)
        pairing_.release()->deleteLater();
    pairing_ = std::move(client);
    pairingState_ = PairingState{PairingState::Kind::connecting, {}, {}, {}};
    Q_EMIT changed();
    pairing_->start();
    return true;
}

void ViewerController::pairingVerify(const std::string& typedName, const std::string& hostName,
                                     const std::string& number)
{
    pairingState_ = PairingState{PairingState::Kind::verify, typedName.empty() ? hostName : typedName, number, {}};
    Q_EMIT changed();
}

void ViewerController::pairingSucceeded(const std::string& typedName, PairedDevice device)
{
    if (!typedName.empty())
        device.name = typedName;
    std::erase_if(devices_, [&](const PairedDevice& d) { return d.id == device.id; });
    devices_.push_back(device);
    saveDevices();
    pairingState_ = PairingState{PairingState::Kind::paired, {}, {}, device.name};
    if (pairing_)
        pairing_.release()->deleteLater();
    Q_EMIT changed();
    refreshStatus();
}

void ViewerController::pairingFailed(const std::string& message)
{
    pairingState_ = PairingState{PairingState::Kind::failed, {}, {}, message};
    if (pairing_)
        pairing_.release()->deleteLater();
    Q_EMIT changed();
}

void ViewerController::cancelPairing()
{
    if (pairing_) {
        pairing_->finish();
        pairing_.release()->deleteLater();
    }
    pairingState_ = PairingState{};
    Q_EMIT changed();
}

} // namespace wl
