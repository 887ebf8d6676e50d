// The paired hosts: groups, presence, the remembered sets, and pairing a new host.
#include "viewer/PairedHosts.h"

#include "platform/Required.h"

#include "identity/DeviceIdentity.h"
#include "mail/MyMacs.h"
#include "mail/PairingClient.h"
#include "platform/Defaults.h"
#include "platform/Notifier.h"
#include "platform/Prompts.h"
#include "platform/ShownText.h"
#include "protocol/MailContent.h"
#include "signalling/IntroductionService.h"

#include <QCollator>
#include <QPointer>
#include <QString>

#include <algorithm>
#include <cstdlib>

namespace wl {

namespace {

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

PairedHosts::PairedHosts(MyMacs& myMacs, Options options, QObject* parent)
    : QObject(parent), myMacs_(myMacs), options_(std::move(options)),
      deviceStore_(*required(options_.defaults, "PairedHosts", "a settings store"), kPairedHostsKey)
{
    required(options_.prompts, "PairedHosts", "prompts");
    options_.timers = requiredTimers(std::move(options_.timers), "PairedHosts");
    required(options_.notifier, "PairedHosts", "a notifier");
    required(options_.identity, "PairedHosts", "an identity");
    IntroductionService::requiredBaseURL(options_.info, "PairedHosts");
    knownUnattended_ = readIdSet(*options_.defaults, kKnownUnattendedKey);
    notifyWhenOnline_ = readIdSet(*options_.defaults, kNotifyWhenOnlineKey);
    devices_ = deviceStore_.load();
}

PairedHosts::~PairedHosts()
{
    statusTimer_.reset();
    if (pairing_)
        pairing_->finish();
}

Prompts& PairedHosts::prompts() const
{
    return *options_.prompts;
}

Notifier& PairedHosts::notifier() const
{
    return *options_.notifier;
}

std::set<std::string> readIdSet(const Defaults& defaults, const char* key)
{
    auto list = defaults.stringList(key);
    return {list.begin(), list.end()};
}

void saveIdSet(Defaults& defaults, const char* key, const std::set<std::string>& ids)
{
    defaults.setStringList(key, std::vector<std::string>(ids.begin(), ids.end()));
}

void PairedHosts::saveDevices()
{
    deviceStore_.save(devices_);
}

std::optional<PairedDevice> PairedHosts::find(const std::string& id) const
{
    for (const auto& device : devices_)
        if (device.id == id)
            return device;
    return std::nullopt;
}

void PairedHosts::setKnownUnattended(std::set<std::string> ids)
{
    knownUnattended_ = std::move(ids);
    saveIdSet(*options_.defaults, kKnownUnattendedKey, knownUnattended_);
    Q_EMIT changed();
}

void PairedHosts::setNotifyWhenOnline(std::set<std::string> ids)
{
    notifyWhenOnline_ = std::move(ids);
    saveIdSet(*options_.defaults, kNotifyWhenOnlineKey, notifyWhenOnline_);
    Q_EMIT changed();
}

// ---- paired hosts, groups and presence ----

std::vector<std::pair<std::string, std::vector<PairedDevice>>> PairedHosts::groupDevices() const
{
    const std::string own = options_.identity->deviceId();
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

void PairedHosts::watchPresence()
{
    refreshStatus();
    QPointer<PairedHosts> self(this);
    statusTimer_ = timers()(kPresenceInterval, [self] {
        if (!self)
            return;
        self->watchPresence();
    });
}

void PairedHosts::refreshStatus()
{
    for (const auto& device : devices_) {
        QPointer<PairedHosts> self(this);
        auto answer = [self, device](bool online) {
            if (self)
                self->setOnline(online, device);
        };
        if (options_.isOnline)
            options_.isOnline(device.id, answer);
        else
            IntroductionService::isOnline(*options_.info, device.id, answer, this);
    }
}

void PairedHosts::setOnline(bool online, const PairedDevice& device)
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

void PairedHosts::removeDevice(const PairedDevice& device)
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

void PairedHosts::setPerson(const PairedDevice& device)
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
    QPointer<PairedHosts> self(this);
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

void PairedHosts::removeFromMyMacs(const PairedDevice& device)
{
    if (!myMacs_.confirm)
        return;
    if (myMacs_.confirm("Remove " + device.name + " from your Macs?",
                        "It lets go of your person key, and your Macs stop being able to help and ask it. Pair it "
                        "again to help it.",
                        "Remove", "Cancel"))
        myMacs_.remove(device);
}

void PairedHosts::toggleNotifyWhenOnline(const PairedDevice& device)
{
    auto ids = notifyWhenOnline_;
    if (!ids.erase(device.id))
        ids.insert(device.id);
    setNotifyWhenOnline(std::move(ids));
}

void PairedHosts::handleAccessNotice(const MailContent& content, const PairedDevice& sender)
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

void PairedHosts::myMacsRosterChanged(const std::vector<PairedDevice>& roster,
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

// ---- pairing ----

bool PairedHosts::pair(const std::string& code, const std::string& name)
{
    auto normalized = normalizePairingCode(code);
    if (!normalized)
        return false;
    if (pairing_)
        pairing_->finish();
    auto client = std::make_unique<PairingClient>(*normalized, timers(), options_.info);
    client->signingKey = options_.identity->deviceSigningKey();
    const std::string typed = trimSpaces(name);
    QPointer<PairedHosts> self(this);
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

void PairedHosts::pairingVerify(const std::string& typedName, const std::string& hostName, const std::string& number)
{
    pairingState_ = PairingState{PairingState::Kind::verify, typedName.empty() ? hostName : typedName, number, {}};
    Q_EMIT changed();
}

void PairedHosts::pairingSucceeded(const std::string& typedName, PairedDevice device)
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

void PairedHosts::pairingFailed(const std::string& message)
{
    pairingState_ = PairingState{PairingState::Kind::failed, {}, {}, message};
    if (pairing_)
        pairing_.release()->deleteLater();
    Q_EMIT changed();
}

void PairedHosts::cancelPairing()
{
    if (pairing_) {
        pairing_->finish();
        pairing_.release()->deleteLater();
    }
    pairingState_ = PairingState{};
    Q_EMIT changed();
}

} // namespace wl
