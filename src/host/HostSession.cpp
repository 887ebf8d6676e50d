// The live session on the host: starting it, the state the helper is told, the events
// the helper sends, the two modes, the microphone, the shared display, suggested
// clicks, the hand-back when the user moves, and the end.
#include "host/HostSession.h"

#include "platform/Required.h"

#include "host/CursorWatcher.h"
#include "host/GuideOverlayController.h"
#include "host/HelpRequestCenter.h"
#include "host/HostPeer.h"
#include "host/InputInjector.h"
#include "host/LocalActivityMonitor.h"
#include "host/PairedHelpers.h"
#include "host/SessionBannerController.h"
#include "host/SessionHistory.h"
#include "host/SharedDisplay.h"
#include "media/MediaEngine.h"
#include "platform/Displays.h"
#include "platform/MainThread.h"
#include "platform/Prompts.h"
#include "platform/ShownText.h"
#include "platform/SystemServices.h"
#include "signalling/SignalTransport.h"

#include <QPointer>
#include <QTimer>

namespace wl {

namespace {

std::string localText(SessionEnd reason, const std::string& helperName)
{
    switch (reason) {
    case SessionEnd::stopped: return "stopped on this Mac";
    case SessionEnd::helperLeft: return PairedHelpers::firstWord(helperName) + " ended it";
    case SessionEnd::connectionLost: return "the connection was lost";
    case SessionEnd::accessRemoved: return "their access was removed";
    }
    return "stopped on this Mac";
}

} // namespace

HostSession::HostSession(HelpRequestCenter& helpRequests, MediaEngine& engine, Options options, QObject* parent)
    : QObject(parent), helpRequests_(helpRequests), engine_(engine), options_(std::move(options)),
      shared_(std::make_shared<SharedDisplay>(options_.platform.displays))
{
    assertMainThread("HostSession::HostSession");
    required(options_.platform.prompts, "HostSession", "prompts");
    required(options_.platform.defaults, "HostSession", "a settings store");
    required(options_.identity, "HostSession", "an identity");
    options_.platform.timers = requiredTimers(std::move(options_.platform.timers), "HostSession");
    QPointer<HostSession> self(this);
    const Platform& platform = options_.platform;
    overlay_ = std::make_unique<GuideOverlayController>(platform.displays, shared_, platform.localInput,
                                                        options_.platform.timers);
    banner_ = std::make_unique<SessionBannerController>(platform.displays);
    injector_ = std::make_unique<InputInjector>(platform.inputPoster, shared_);
    overlay_->onDoIt = [self](double x, double y) {
        if (self)
            self->doSuggestedClick(x, y);
    };
    overlay_->onDoAlways = [self](double x, double y) {
        if (self)
            self->doSuggestedClicksAlways(x, y);
    };
    std::weak_ptr<bool> alive = alive_;
    displaysObserver_ = options_.platform.displays->addObserver([self, alive] {
        if (!alive.lock())
            return;
        if (self)
            self->screensChanged();
    });
    microphoneWatcher_ = engine_.addMicrophoneWatcher(MediaEngine::AudioRole::hosting, [self] {
        if (self)
            self->microphoneFollowed();
    });
}

HostSession::~HostSession()
{
    alive_.reset();
    options_.platform.displays->removeObserver(displaysObserver_);
    engine_.removeMicrophoneWatcher(MediaEngine::AudioRole::hosting, microphoneWatcher_);
    if (peer_)
        peer_->stop();
    peer_.reset();
}

Prompts& HostSession::prompts() const
{
    return *options_.platform.prompts;
}

void HostSession::setHelperName(std::optional<std::string> name)
{
    if (helperName_ == name)
        return;
    helperName_ = std::move(name);
    Q_EMIT changed();
}

void HostSession::refreshBannerSoon()
{
    QPointer<SessionBannerController> banner(banner_.get());
    QTimer::singleShot(0, this, [banner] {
        if (banner)
            banner->refreshPlacement();
    });
}

void HostSession::sendNotice(const std::string& text)
{
    if (!peer_)
        return;
    SessionEvent notice = SessionEvent::make(SessionEvent::Kind::notice);
    notice.text = text;
    peer_->send(notice);
}

CursorWatcher& HostSession::cursorWatcher()
{
    if (!cursorWatcher_) {
        cursorWatcher_ =
            std::make_unique<CursorWatcher>(options_.platform.cursorImages, shared_, options_.platform.timers);
        QPointer<HostSession> self(this);
        cursorWatcher_->onChange = [self](const CursorShape& shape) {
            if (self)
                self->sendCursorShape(shape);
        };
    }
    return *cursorWatcher_;
}

LocalActivityMonitor& HostSession::localActivity()
{
    if (!localActivity_) {
        localActivity_ = std::make_unique<LocalActivityMonitor>(options_.platform.localInput, options_.platform.timers);
        QPointer<HostSession> self(this);
        localActivity_->onChange = [self](bool active) {
            if (self)
                self->localActivityChanged(active);
        };
        // Resting on the banner, the user keeps the mouse: Stop and "Take back control"
        // take their click however long they pause before it.
        localActivity_->holdsActivity = [self](QPointF pixel) { return self && self->banner_->covers(pixel); };
    }
    return *localActivity_;
}

void HostSession::start(const std::string& fullName, HelpMode mode, const HelperAttempt& attempt,
                        std::shared_ptr<SignalTransport> transport, const std::vector<ICEServer>& relays)
{
    assertMainThread("HostSession::start");
    if (!transport)
        return;
    setHelperName(fullName);
    overlay_->model.helperName = PairedHelpers::firstWord(fullName);
    shared_->set(options_.platform.displays->mainDisplayID());
    engine_.setAudioRole(MediaEngine::AudioRole::hosting);

    QPointer<HostSession> self(this);
    peer_ = HostPeer::make(engine_, transport, relays, options_.platform.timers, options_.platform.screens,
                           options_.platform.captureExclusion, shared_, *options_.platform.defaults);
    peer_->signAnswer = [self, attempt,
                         identity = options_.identity](const std::string& sdp) -> std::optional<std::string> {
        return self ? signAnswer(sdp, attempt, *identity) : std::nullopt;
    };
    HostPeer* made = peer_.get();
    peer_->onEnded = [self, made] {
        // Ended from inside the peer's own timer: end the session on the next turn.
        QTimer::singleShot(0, self, [self, made] {
            if (self && self->peer_.get() == made)
                self->requestEnd(SessionEnd::connectionLost);
        });
    };
    peer_->onEvent = [self](const SessionEvent& event) {
        if (self)
            self->handleEvent(event);
    };
    peer_->onChannelOpen = [self] {
        if (self)
            self->sendState();
    };

    transport->send(SignalMessage::make(SignalMessage::Kind::accepted));
    helpRequests_.clearActive();
    mode_ = HelpMode::guide;

    banner_->hide();
    banner_->model = SessionBannerModel{};
    banner_->model.helperFirstName = PairedHelpers::firstWord(fullName);
    banner_->model.mode = HelpMode::guide;
    SessionBannerController::Actions actions;
    actions.onToggleControl = [self] {
        if (self)
            self->setMode(self->mode_ == HelpMode::control ? HelpMode::guide : HelpMode::control);
    };
    actions.onAskEachTime = [self] {
        if (self)
            self->setClicksGoThrough(false);
    };
    actions.onToggleMicrophone = [self] {
        if (self)
            self->toggleMicrophoneButton();
    };
    actions.onStop = [self] {
        if (self)
            self->requestEnd(SessionEnd::stopped);
    };
    banner_->present(std::move(actions));
    if (mode == HelpMode::control)
        setMode(HelpMode::control);
}

void HostSession::sendState()
{
    assertMainThread("HostSession::sendState");
    if (!peer_)
        return;
    SessionEvent modeEvent = SessionEvent::make(SessionEvent::Kind::mode);
    modeEvent.mode = mode_;
    modeEvent.active = clicksGoThrough_;
    peer_->send(modeEvent);
    SessionEvent microphone = SessionEvent::make(SessionEvent::Kind::microphone);
    microphone.active = microphoneOn();
    peer_->send(microphone);
    if (peer_) {
        SessionEvent displays = SessionEvent::make(SessionEvent::Kind::displays);
        displays.displays = currentDisplays(*options_.platform.displays);
        displays.displayID = shared_->id();
        peer_->send(displays);
    }
    if (mode_ == HelpMode::control) {
        cursorWatcher().stop();
        cursorWatcher().start();
    }
    if (pendingNotice_ && peer_ && peer_->guideChannelOpen()) {
        std::string notice = *pendingNotice_;
        pendingNotice_.reset();
        sendNotice(notice);
    }
}

void HostSession::handleEvent(const SessionEvent& event)
{
    assertMainThread("HostSession::handleEvent");
    using Kind = SessionEvent::Kind;
    switch (event.kind) {
    case Kind::pointer:
    case Kind::hide:
        if (mode_ == HelpMode::guide)
            overlay_->show(event);
        return;
    case Kind::suggest:
        if (mode_ != HelpMode::guide)
            return;
        if (clicksGoThrough_)
            doSuggestedClick(event.x, event.y);
        else
            overlay_->show(event);
        return;
    case Kind::mouseMove:
    case Kind::mouseDown:
    case Kind::mouseUp:
    case Kind::scroll:
    case Kind::key:
        if (mode_ == HelpMode::control && !(localActivity_ && localActivity_->isActive()) &&
            options_.platform.permissions->canControl()) {
            if (event.kind != Kind::key && localActivity_)
                localActivity_->forgetUserPointer();
            injector_->post(event);
        }
        return;
    case Kind::requestControl: askTakeOver(); return;
    case Kind::releaseControl: setMode(HelpMode::guide); return;
    case Kind::microphone:
        banner_->model.helperMicrophoneOn = event.active.value_or(false);
        refreshBannerSoon();
        return;
    case Kind::end: requestEnd(SessionEnd::helperLeft); return;
    case Kind::selectDisplay:
        if (event.displayID)
            selectDisplay(*event.displayID);
        return;
    case Kind::keyFrame:
        if (peer_)
            peer_->requestKeyFrame();
        return;
    case Kind::mode:
    case Kind::localActivity:
    case Kind::notice:
    case Kind::cursor:
    case Kind::displays: return;
    }
}

void HostSession::setMode(HelpMode mode)
{
    assertMainThread("HostSession::setMode");
    if (!peer_)
        return;
    if (mode == HelpMode::control && !options_.platform.permissions->canControl()) {
        options_.platform.permissions->requestControl();
        pendingNotice_ = "Take over needs a one-time setting on that Mac (Accessibility), and it's been asked to allow "
                         "it. You're in guide mode until then; ask to take over again once it's on.";
        sendState();
        return;
    }
    if (mode == HelpMode::control) {
        mode_ = HelpMode::control;
        overlay_->hide();
        localActivity().install();
        cursorWatcher().start();
    } else {
        mode_ = HelpMode::guide;
        localActivity().stop();
        injector_->releaseAll();
        cursorWatcher().stop();
    }
    banner_->model.mode = mode_;
    banner_->model.localActive = false;
    refreshBannerSoon();
    banner_->setIgnoresMouseEvents(mode_ == HelpMode::control);
    peer_->setShowsCursor(mode_ == HelpMode::guide);
    sendState();
}

void HostSession::askTakeOver()
{
    assertMainThread("HostSession::askTakeOver");
    if (mode_ != HelpMode::guide || askingTakeOver_ || !helperName_)
        return;
    askingTakeOver_ = true;
    const std::string first = PairedHelpers::firstWord(*helperName_);
    AlertRequest alert;
    alert.title = first + " is asking to take over";
    alert.informativeText = first +
        " would use your mouse and keyboard. Move your mouse any time to take it back, "
        "or click Take back control.";
    alert.buttons = {"Allow", "Not now"};
    alert.floating = true;
    QPointer<HostSession> self(this);
    int answer = prompts().alert(alert);
    if (!self)
        return;
    askingTakeOver_ = false;
    if (!peer_)
        return;
    if (answer == 0)
        setMode(HelpMode::control);
    else
        sendNotice("They said not now. You're still in guide mode.");
}

void HostSession::selectDisplay(std::uint32_t displayId)
{
    assertMainThread("HostSession::selectDisplay");
    if (!peer_ || displayId == shared_->id())
        return;
    bool known = false;
    for (const auto& display : currentDisplays(*options_.platform.displays))
        known = known || display.id == displayId;
    if (!known)
        return;
    shared_->set(displayId);
    overlay_->hide();
    peer_->switchDisplay(displayId);
    if (mode_ == HelpMode::control) {
        cursorWatcher().stop();
        cursorWatcher().start();
    }
    SessionEvent displays = SessionEvent::make(SessionEvent::Kind::displays);
    displays.displays = currentDisplays(*options_.platform.displays);
    displays.displayID = shared_->id();
    peer_->send(displays);
}

void HostSession::screensChanged()
{
    assertMainThread("HostSession::screensChanged");
    if (!peer_)
        return;
    auto displays = currentDisplays(*options_.platform.displays);
    bool present = false;
    for (const auto& display : displays)
        present = present || display.id == shared_->id();
    if (!present) {
        shared_->set(options_.platform.displays->mainDisplayID());
        overlay_->hide();
        peer_->switchDisplay(shared_->id());
    }
    SessionEvent event = SessionEvent::make(SessionEvent::Kind::displays);
    event.displays = displays;
    event.displayID = shared_->id();
    peer_->send(event);
}

void HostSession::restoreBannerMouse(bool localActive)
{
    assertMainThread("HostSession::restoreBannerMouse");
    banner_->setIgnoresMouseEvents(mode_ == HelpMode::control && !localActive);
}

void HostSession::doSuggestedClick(double x, double y)
{
    assertMainThread("HostSession::doSuggestedClick");
    if (!peer_ || mode_ != HelpMode::guide)
        return;
    if (!options_.platform.permissions->canControl()) {
        options_.platform.permissions->requestControl();
        return;
    }
    banner_->setIgnoresMouseEvents(true);
    for (auto kind : {SessionEvent::Kind::mouseMove, SessionEvent::Kind::mouseDown, SessionEvent::Kind::mouseUp}) {
        SessionEvent event = SessionEvent::make(kind, x, y);
        event.button = 0;
        event.clickCount = 1;
        injector_->post(event);
    }
    QPointer<HostSession> self(this);
    bannerMouseTimer_ = timers()(kBannerMouseDelay, [self] {
        if (self)
            self->restoreBannerMouse(self->localActivity_ && self->localActivity_->isActive());
    });
    if (!clicksGoThrough_)
        sendNotice("They let your suggested click go through.");
}

void HostSession::doSuggestedClicksAlways(double x, double y)
{
    assertMainThread("HostSession::doSuggestedClicksAlways");
    setClicksGoThrough(true);
    doSuggestedClick(x, y);
}

void HostSession::setClicksGoThrough(bool on)
{
    assertMainThread("HostSession::setClicksGoThrough");
    if (!peer_ || clicksGoThrough_ == on)
        return;
    clicksGoThrough_ = on;
    if (on) {
        overlay_->model.suggestions.clear();
        overlay_->dismissSuggestion();
    }
    if (helperName_)
        appendSessionHistory(on ? "Let " + shownName(*helperName_) + "'s suggested clicks through for the session"
                                : "Back to asking before each of " + *helperName_ + "'s clicks");
    banner_->model.clicksGoThrough = on;
    refreshBannerSoon();
    sendState();
    if (peer_)
        sendNotice(on ? "They let your suggested clicks go through for the rest of this session."
                      : "They'd like to be asked before each click again.");
}

void HostSession::localActivityChanged(bool active)
{
    assertMainThread("HostSession::localActivityChanged");
    if (active)
        injector_->releaseAll();
    banner_->model.localActive = active;
    refreshBannerSoon();
    banner_->setIgnoresMouseEvents(mode_ == HelpMode::control && !active);
    if (peer_) {
        peer_->setShowsCursor(mode_ == HelpMode::guide || active);
        SessionEvent event = SessionEvent::make(SessionEvent::Kind::localActivity);
        event.active = active;
        peer_->send(event);
    }
}

void HostSession::sendCursorShape(const CursorShape& shape)
{
    assertMainThread("HostSession::sendCursorShape");
    if (!peer_)
        return;
    SessionEvent event = SessionEvent::make(SessionEvent::Kind::cursor);
    event.cursorShape = shape;
    peer_->send(event);
}

bool HostSession::microphoneOn() const
{
    return engine_.microphoneOn(MediaEngine::AudioRole::hosting);
}

bool HostSession::microphoneLeftOn() const
{
    return microphoneOn() || engine_.microphoneLeftOn(MediaEngine::AudioRole::hosting);
}

void HostSession::toggleMicrophoneButton()
{
    assertMainThread("HostSession::toggleMicrophoneButton");
    // A microphone that went away is still on as far as the user is concerned: a click
    // leaves it off.
    const bool leftOn = microphoneLeftOn();
    if (!peer_ && !leftOn)
        return;
    QPointer<HostSession> self(this);
    engine_.setMicrophone(MediaEngine::AudioRole::hosting, !leftOn, [self](MicrophoneResult result) {
        if (self)
            self->microphoneSwitched(result);
    });
}

void HostSession::turnMicrophoneOn()
{
    assertMainThread("HostSession::turnMicrophoneOn");
    QPointer<HostSession> self(this);
    engine_.setMicrophone(MediaEngine::AudioRole::hosting, true, [self](MicrophoneResult result) {
        if (self)
            self->microphoneSwitched(result);
    });
}

void HostSession::microphoneSwitched(MicrophoneResult result)
{
    assertMainThread("HostSession::microphoneSwitched");
    const bool on = microphoneOn();
    banner_->model.microphoneOn = on;
    banner_->model.microphoneAway = !on && microphoneLeftOn();
    refreshBannerSoon();
    if (peer_) {
        SessionEvent event = SessionEvent::make(SessionEvent::Kind::microphone);
        event.active = on;
        peer_->send(event);
    }
    if (result == MicrophoneResult::done) {
        if (helperName_)
            appendSessionHistory(std::string("Microphone turned ") + (on ? "on" : "off") + " with " +
                                 shownName(*helperName_));
        return;
    }
    AlertRequest alert;
    alert.title = "Your microphone is off";
    switch (result) {
    case MicrophoneResult::notAllowed:
        alert.informativeText = "Wickerlane isn't allowed to use the microphone. Turn it on in System Settings \u2192 "
                                "Privacy & Security \u2192 Microphone.";
        break;
    case MicrophoneResult::noMicrophone:
        alert.informativeText = "This Mac has no microphone. Connect one (AirPods or a headset work) and try again.";
        break;
    default: alert.informativeText = "The microphone couldn't be started."; break;
    }
    prompts().alert(alert);
}

void HostSession::microphoneFollowed()
{
    assertMainThread("HostSession::microphoneFollowed");
    // Only a session's microphone follows its input device; the end switches it off.
    if (!peer_)
        return;
    const bool on = microphoneOn();
    const bool away = !on && microphoneLeftOn();
    const bool told = banner_->model.microphoneOn;
    if (on == told && away == banner_->model.microphoneAway)
        return;
    banner_->model.microphoneOn = on;
    banner_->model.microphoneAway = away;
    refreshBannerSoon();
    if (on != told) {
        SessionEvent event = SessionEvent::make(SessionEvent::Kind::microphone);
        event.active = on;
        peer_->send(event);
    }
}

void HostSession::stop(SessionEnd reason)
{
    assertMainThread("HostSession::stop");
    if (helperName_)
        appendSessionHistory("Session with " + shownName(*helperName_) + " ended: " + localText(reason, *helperName_));
    if (localActivity_)
        localActivity_->stop();
    injector_->releaseAll();
    if (cursorWatcher_)
        cursorWatcher_->stop();
    mode_ = HelpMode::guide;
    pendingNotice_.reset();
    clicksGoThrough_ = false;
    if (microphoneLeftOn())
        engine_.switchMicrophoneOff(MediaEngine::AudioRole::hosting);
    if (auto peer = std::move(peer_)) {
        peer_.reset();
        SessionEvent goodbye = SessionEvent::make(SessionEvent::Kind::end);
        goodbye.text = wireWord(reason);
        peer->stop(goodbye);
    }
    bannerMouseTimer_.reset();
}

void HostSession::clear()
{
    assertMainThread("HostSession::clear");
    overlay_->hide();
    banner_->hide();
    setHelperName(std::nullopt);
}

void HostSession::requestEnd(SessionEnd reason)
{
    assertMainThread("HostSession::requestEnd");
    if (onEnd)
        onEnd(reason);
}

} // namespace wl
