// The host controller: construction and the wiring of its parts, accepting help
// requests, the status line, the hub's handlers, and the permission watch.
#include "host/HostController.h"

#include "host/AskForHelpPanelController.h"
#include "identity/DeviceIdentity.h"
#include "platform/Required.h"
#include "host/HelpRequestCenter.h"
#include "host/HostHandshake.h"
#include "host/HostSession.h"
#include "host/KeepAwake.h"
#include "host/OpenAtLogin.h"
#include "host/PairedHelpers.h"
#include "host/SessionHistory.h"
#include "mail/AppServices.h"
#include "mail/Messenger.h"
#include "mail/MyMacs.h"
#include "mail/PasswordCenter.h"
#include "mail/PasswordsPanelController.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/ShownText.h"
#include "platform/SystemServices.h"
#include "signalling/RelayLink.h"

#include <QPointer>

#include <set>

namespace wl {

HostController::HostController(AppServices& services, MediaEngine& engine, Options options, QObject* parent)
    : QObject(parent), services_(services), options_(std::move(options)), messenger_(*services.messenger),
      passwords_(*services.passwords)
{
    required(options_.identity, "HostController", "an identity");
    required(options_.platform.defaults, "HostController", "a settings store");
    options_.platform.timers = requiredTimers(std::move(options_.platform.timers), "HostController");
    Prompts* prompts = required(options_.platform.prompts, "HostController", "prompts").get();
    QPointer<HostController> self(this);
    relay_ = std::make_unique<RelayLink>(options_.identity, options_.platform.timers, options_.platform.info);
    keepAwake_ = std::make_unique<KeepAwake>(options_.platform.power);
    askForHelpPanel_ = std::make_unique<AskForHelpPanelController>();
    auto helpersNow = [self] {
        return self && self->helpers_ ? self->helpers_->helpers() : std::vector<PairedDevice>{};
    };
    HelpRequestCenter::Options requestOptions;
    requestOptions.prompts = prompts;
    requestOptions.screens = options_.platform.screens;
    requestOptions.displays = options_.platform.displays;
    requestOptions.defaults = options_.platform.defaults;
    helpRequests_ = std::make_unique<HelpRequestCenter>(messenger_, helpersNow, std::move(requestOptions));
    helpers_ = std::make_unique<PairedHelpers>(
        messenger_,
        PairedHelpers::Options{options_.platform.timers, options_.platform.defaults, prompts,
                               options_.platform.adminPrompt, options_.platform.info, options_.identity});
    session_ = std::make_unique<HostSession>(*helpRequests_, engine,
                                             HostSession::Options{options_.platform, options_.identity});
    handshake_ = std::make_unique<HostHandshake>(
        HostHandshake::Parts{services_, *relay_, *helpers_, *session_, *helpRequests_, engine, options_.identity},
        HostHandshake::Options{options_.platform.timers, prompts, options_.platform.permissions,
                               options_.platform.defaults});

    QObject::connect(helpers_.get(), &PairedHelpers::changed, this, &HostController::changed);
    QObject::connect(session_.get(), &HostSession::changed, this, &HostController::changed);
    session_->onEnd = [self](SessionEnd reason) {
        if (self)
            self->endSession(reason);
    };
    handshake_->onEnd = session_->onEnd;
    handshake_->onNoScreenRecording = [self] {
        if (self)
            self->tellHelpersNoScreenRecording();
    };
    helpers_->onRemoved = [self](const std::string& id) {
        if (self)
            self->helpersRemoved({id});
    };

    services_.contactLists.push_back(helpersNow);
    services_.myMacs->onChange.push_back(
        [self](const std::vector<PairedDevice>& macs, const std::vector<std::string>& removedIds) {
            if (self)
                self->helpersChanged(macs, removedIds);
        });

    relay_->onMessage = [self](const SignalMessage& message) {
        if (self)
            self->handshake_->handleSignal(message);
    };

    refreshLoginItem(*options_.platform.loginItem, *options_.platform.defaults);
    opensAtLogin_ = wl::opensAtLogin(*options_.platform.loginItem);

    tellHelpersNoScreenRecording();
    armPermissionTimer();
    helpers_->tellAboutAccess();

    relay_->onStatusChange = [self](bool online) {
        if (self)
            self->relayOnlineChanged(online);
    };

    if (options_.platform.defaults->boolValue(kAcceptHelpRequestsKey))
        setAcceptingHelpRequests(true);

    helpRequests_->onSent = [self] {
        if (self)
            self->setAcceptingHelpRequests(true);
    };
    helpRequests_->onShowPasswords = [self] {
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
    permissionTimer_.reset();
    relay_->onStatusChange = nullptr;
    relay_->onMessage = nullptr;
    session_->onEnd = nullptr;
    handshake_->onEnd = nullptr;
    helpers_->onRemoved = nullptr;
    // The handshake holds the session: it goes first.
    handshake_.reset();
    session_.reset();
}

const std::optional<std::string>& HostController::helperName() const
{
    return session_->helperName();
}

const std::vector<PairedDevice>& HostController::helpers() const
{
    return helpers_->helpers();
}

bool HostController::isPairing() const
{
    return helpers_->isPairing();
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
    if (const auto& name = helperName())
        return shownName(*name) + " is helping";
    if (!isListening_)
        return "Not accepting help requests";
    if (isOnline_)
        return "Online \u00b7 waiting for help requests";
    return "Connecting\u2026";
}

void HostController::setAcceptingHelpRequests(bool on)
{
    options_.platform.defaults->setBool(kAcceptHelpRequestsKey, on);
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
    wl::setOpensAtLogin(*options_.platform.loginItem, *options_.platform.defaults, on);
    setPublished(opensAtLogin_, wl::opensAtLogin(*options_.platform.loginItem));
}

void HostController::relayOnlineChanged(bool online)
{
    setPublished(isOnline_, online);
    // The service's channels belong to the link they came on.
    if (!online)
        handshake_->relayClosed();
    // A handshake travels on the relay link: without it, an attempt whose connection
    // does not stand yet can't go on, and must not keep the host busy.
    if (!online && handshake_->busy() && !handshake_->connected()) {
        Log::line("Wickerlane: the link to the introduction service closed during a handshake; ending it");
        endSession(EndReason::stopped);
    }
}

void HostController::messageReceived(const StoredMessage& message)
{
    if (message.content.kind == MailContent::Kind::cancel)
        helpRequests_->helperMarkedDone(message);
}

void HostController::helpersChanged(const std::vector<PairedDevice>& roster, const std::vector<std::string>& removedIds)
{
    std::set<std::string> removed(removedIds.begin(), removedIds.end());
    auto next = helpers_->mergedWith(roster, removed);
    if (!next)
        return;
    helpersRemoved(removed);
    helpers_->replaceAll(std::move(*next));
    helpers_->tellAboutAccess();
}

void HostController::helpersRemoved(const std::set<std::string>& ids)
{
    for (const auto& id : ids)
        handshake_->forgetChallenges(id, SessionEnd::accessRemoved);
    const auto& attempt = handshake_->attempt();
    if (attempt && ids.count(attempt->helper.id))
        endSession(SessionEnd::accessRemoved);
}

void HostController::endSession(EndReason reason)
{
    session_->stop(reason);
    handshake_->finish(reason);
    session_->clear();
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
    helpers_->tellAboutAccess();
}

void HostController::tellHelpersNoScreenRecording()
{
    Permissions& permissions = *options_.platform.permissions;
    setPublished(canRecordScreen_, permissions.canRecordScreen());
    setPublished(canControl_, permissions.canControl());
    Defaults& defaults = *options_.platform.defaults;
    if (canRecordScreen_) {
        defaults.remove(kToldNoScreenRecordingKey);
        return;
    }
    if (!isListening_ || defaults.boolValue(kToldNoScreenRecordingKey))
        return;
    defaults.setBool(kToldNoScreenRecordingKey, true);
    appendSessionHistory("Screen Recording permission is off; helpers told");
    for (const auto& helper : helpers_->helpers()) {
        MailContent content;
        content.kind = MailContent::Kind::message;
        content.text = "Wickerlane on this Mac can't share the screen right now: its Screen Recording permission is "
                       "off. Someone here needs to turn it back on.";
        content.sentAt = messenger_.now();
        messenger_.send(content, helper);
    }
}

} // namespace wl
