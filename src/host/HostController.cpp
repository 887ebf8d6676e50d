// The host controller: construction, accepting help requests, the status line, the
// hub's handlers, and the permission watch with the mail it sends helpers.
#include "host/HostController.h"

#include "mail/AppServices.h"
#include "host/AskForHelpPanelController.h"
#include "host/CursorWatcher.h"
#include "host/GuideOverlayController.h"
#include "host/HelpRequestCenter.h"
#include "host/HostPeer.h"
#include "host/InputInjector.h"
#include "host/KeepAwake.h"
#include "host/LocalActivityMonitor.h"
#include "host/OpenAtLogin.h"
#include "host/PairingPanelController.h"
#include "host/SessionBannerController.h"
#include "host/SessionHistory.h"
#include "mail/FileLinkPeer.h"
#include "mail/Messenger.h"
#include "mail/MyMacs.h"
#include "mail/PairingHost.h"
#include "mail/PasswordCenter.h"
#include "mail/PasswordsPanelController.h"
#include "platform/Defaults.h"
#include "platform/Displays.h"
#include "platform/Log.h"
#include "platform/Prompts.h"
#include "platform/ShownText.h"
#include "platform/SystemServices.h"
#include "signalling/RelayLink.h"

#include <QPointer>

#include <nlohmann/json.hpp>

namespace wl {

std::string HostController::wireWord(EndReason reason)
{
    switch (reason) {
    case EndReason::stopped: return "stopped";
    case EndReason::helperLeft: return "helperLeft";
    case EndReason::connectionLost: return "connectionLost";
    case EndReason::accessRemoved: return "accessRemoved";
    }
    return "stopped";
}

HostController::HostController(AppServices& services, QObject* parent) : HostController(services, Options(), parent) { }

HostController::HostController(AppServices& services, Options options, QObject* parent)
    : QObject(parent), services_(services), options_(std::move(options)), messenger_(*services.messenger),
      passwords_(*services.passwords)
{
    QPointer<HostController> self(this);
    relay_ = std::make_unique<RelayLink>();
    pairingPanel_ = std::make_unique<PairingPanelController>();
    overlay_ = std::make_unique<GuideOverlayController>(options_.timers);
    banner_ = std::make_unique<SessionBannerController>();
    injector_ = std::make_unique<InputInjector>();
    opensAtLogin_ = wl::opensAtLogin();
    keepAwake_ = std::make_unique<KeepAwake>();
    askForHelpPanel_ = std::make_unique<AskForHelpPanelController>();

    helpers_ = helperStore_.load();

    services_.contactLists.push_back([self] { return self ? self->helpersProvider() : std::vector<PairedDevice>{}; });
    services_.myMacs->onChange.push_back(
        [self](const std::vector<PairedDevice>& macs, const std::vector<std::string>& removedIds) {
            if (self)
                self->helpersChanged(macs, removedIds);
        });

    overlay_->onDoIt = [self](double x, double y) {
        if (self)
            self->doSuggestedClick(x, y);
    };
    overlay_->onDoAlways = [self](double x, double y) {
        if (self)
            self->doSuggestedClicksAlways(x, y);
    };

    std::weak_ptr<bool> alive = alive_;
    displaysObserver_ = Displays::standard().addObserver([self, alive] {
        if (!alive.lock())
            return;
        if (self)
            self->screensChanged();
    });

    relay_->onMessage = [self](const SignalMessage& message) {
        if (self)
            self->handleSignal(message);
    };

    refreshLoginItem();
    opensAtLogin_ = wl::opensAtLogin();

    tellHelpersNoScreenRecording();
    armPermissionTimer();
    tellHelpersAboutAccess();

    relay_->onStatusChange = [self](bool online) {
        if (self)
            self->relayOnlineChanged(online);
    };

    if (Defaults::standard().boolValue(kAcceptHelpRequestsKey))
        setAcceptingHelpRequests(true);

    HelpRequestCenter& requests = helpRequests();
    requests.onSent = [self] {
        if (self)
            self->setAcceptingHelpRequests(true);
    };
    requests.onShowPasswords = [self] {
        if (self)
            self->passwords().panel().show();
    };

    services_.mailHandlers.push_back([self](const StoredMessage& message) {
        if (self)
            self->messageReceived(message);
    });
    passwords_.onActivity = [](const std::string& line) { appendSessionHistory(line); };
}

HostController::~HostController()
{
    alive_.reset();
    Displays::standard().removeObserver(displaysObserver_);
    handshakeTimer_.reset();
    permissionTimer_.reset();
    if (peer_)
        peer_->stop();
    peer_.reset();
    if (filePeer_) {
        filePeer_->onEnded = nullptr;
        filePeer_->close();
    }
    if (relay_) {
        relay_->onStatusChange = nullptr;
        relay_->onMessage = nullptr;
    }
}

Prompts& HostController::prompts() const
{
    return options_.prompts ? *options_.prompts : Prompts::standard();
}

void HostController::setPublished(bool& field, bool value)
{
    if (field == value)
        return;
    field = value;
    Q_EMIT changed();
}

std::string HostController::statusLine() const
{
    if (helperName_)
        return shownName(*helperName_) + " is helping";
    if (!isListening_)
        return "Not accepting help requests";
    if (isOnline_)
        return "Online \u00b7 waiting for help requests";
    return "Connecting\u2026";
}

void HostController::setAcceptingHelpRequests(bool on)
{
    Defaults::standard().setBool(kAcceptHelpRequestsKey, on);
    keepAwake_->start(on);
    if (on) {
        if (isListening_)
            return;
        setPublished(isListening_, true);
        if (!relay_->active)
            relay_->connect();
        return;
    }
    relay_->stop();
    setPublished(isListening_, false);
}

void HostController::setOpensAtLogin(bool on)
{
    wl::setOpensAtLogin(on);
    setPublished(opensAtLogin_, wl::opensAtLogin());
}

HelpRequestCenter& HostController::helpRequests()
{
    if (!helpRequests_) {
        QPointer<HostController> self(this);
        HelpRequestCenter::Options options;
        options.prompts = options_.prompts;
        helpRequests_ = std::make_unique<HelpRequestCenter>(
            messenger_, [self] { return self ? self->helpersProvider() : std::vector<PairedDevice>{}; },
            std::move(options));
    }
    return *helpRequests_;
}

void HostController::relayOnlineChanged(bool online)
{
    setPublished(isOnline_, online);
    // The service's channels belong to the link they came on.
    if (!online) {
        connectors_.clear();
        attemptChannel_.reset();
    }
    // A handshake travels on the relay link: without it, an attempt whose connection
    // does not stand yet can't go on, and must not keep the host busy.
    if (!online && sessionTransport_ && !attemptConnected()) {
        Log::line("Wickerlane: the link to the introduction service closed during a handshake; ending it");
        endSession(EndReason::stopped);
    }
}

void HostController::messageReceived(const StoredMessage& message)
{
    if (message.content.kind == MailContent::Kind::cancel)
        helpRequests().helperMarkedDone(message);
}

void HostController::helpersChanged(const std::vector<PairedDevice>& roster, const std::vector<std::string>& removedIds)
{
    std::vector<PairedDevice> next;
    std::set<std::string> removed(removedIds.begin(), removedIds.end());
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
        return;
    for (const auto& id : removed)
        forgetChallenges(id, EndReason::accessRemoved);
    if (handshake_ && removed.count(handshake_->helper.id))
        endSession(EndReason::accessRemoved);
    setHelpers(std::move(next));
    tellHelpersAboutAccess();
}

void HostController::setHelpers(std::vector<PairedDevice> helpers)
{
    helpers_ = std::move(helpers);
    saveHelpers();
    Q_EMIT changed();
}

void HostController::saveHelpers()
{
    helperStore_.save(helpers_);
}

std::optional<std::size_t> HostController::helperIndex(const std::string& id) const
{
    for (std::size_t i = 0; i < helpers_.size(); ++i)
        if (helpers_[i].id == id)
            return i;
    return std::nullopt;
}

// ---- permissions and telling helpers ----

void HostController::armPermissionTimer()
{
    QPointer<HostController> self(this);
    permissionTimer_ = timers()(kPermissionInterval, [self] {
        if (!self)
            return;
        self->checkPermissions();
        self->armPermissionTimer();
    });
}

void HostController::checkPermissions()
{
    tellHelpersNoScreenRecording();
    tellHelpersAboutAccess();
}

void HostController::tellHelpersNoScreenRecording()
{
    Permissions& permissions = Permissions::standard();
    setPublished(canRecordScreen_, permissions.canRecordScreen());
    setPublished(canControl_, permissions.canControl());
    Defaults& defaults = Defaults::standard();
    if (canRecordScreen_) {
        defaults.remove(kToldNoScreenRecordingKey);
        return;
    }
    if (!isListening_ || defaults.boolValue(kToldNoScreenRecordingKey))
        return;
    defaults.setBool(kToldNoScreenRecordingKey, true);
    appendSessionHistory("Screen Recording permission is off; helpers told");
    for (const auto& helper : helpers_) {
        MailContent content;
        content.kind = MailContent::Kind::message;
        content.text = "Wickerlane on this Mac can't share the screen right now: its Screen Recording permission is "
                       "off. Someone here needs to turn it back on.";
        content.sentAt = messenger_.now();
        messenger_.send(content, helper);
    }
}

namespace {

// A settings value holding a JSON object; empty when absent or of another shape.
nlohmann::json readObject(const char* key)
{
    auto bytes = Defaults::standard().data(key);
    if (!bytes)
        return nlohmann::json::object();
    auto json = nlohmann::json::parse(*bytes, nullptr, false);
    return json.is_object() ? json : nlohmann::json::object();
}

void writeObject(const char* key, const nlohmann::json& json)
{
    Defaults::standard().setData(key, json.dump());
}

bool hasAccess(const PairedDevice& helper)
{
    return helper.unattended && helper.unattended->failedAttempts < HostController::kMaxWrongPINs;
}

} // namespace

void HostController::tellHelpersAboutAccess()
{
    const nlohmann::json told = readObject(kToldAccessKey);
    const nlohmann::json toldAt = readObject(kToldAccessAtKey);
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
        QPointer<HostController> self(this);
        const std::string id = helper.id;
        messenger_.send(content, helper, [self, id, access](Messenger::SendResult result) {
            if (!self)
                return;
            self->tellingAccess_.erase(id);
            if (!result.ok())
                return;
            nlohmann::json toldNow = readObject(kToldAccessKey);
            toldNow[id] = access;
            writeObject(kToldAccessKey, toldNow);
            nlohmann::json atNow = readObject(kToldAccessAtKey);
            atNow[id] = self->messenger_.now();
            writeObject(kToldAccessAtKey, atNow);
            // Access may have changed while this notice was on its way: tell the change now
            // rather than at the next check.
            QMetaObject::invokeMethod(
                self.data(),
                [self] {
                    if (self)
                        self->tellHelpersAboutAccess();
                },
                Qt::QueuedConnection);
        });
    }
}

} // namespace wl
