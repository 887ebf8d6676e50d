// The live session on the host: starting it, the state the helper is told, the events
// the helper sends, the two modes, the microphone, the shared display, suggested
// clicks, the hand-back when the user moves, and the end.
#include "host/HostController.h"

#include "host/CursorWatcher.h"
#include "host/GuideOverlayController.h"
#include "host/HelpRequestCenter.h"
#include "host/HostPeer.h"
#include "host/InputInjector.h"
#include "host/LocalActivityMonitor.h"
#include "host/SessionBannerController.h"
#include "host/SessionHistory.h"
#include "mail/FileLinkPeer.h"
#include "media/KeyFrameRequest.h"
#include "media/SessionAudioDevice.h"
#include "media/SystemAudioDevice.h"
#include "platform/Prompts.h"
#include "platform/ShownText.h"
#include "platform/SystemServices.h"
#include "signalling/SharedDisplay.h"
#include "signalling/SignalTransport.h"

#include <QPointer>
#include <QTimer>

namespace wl {

namespace {

std::string localText(HostController::EndReason reason, const std::string& helperName)
{
    switch (reason) {
    case HostController::EndReason::stopped: return "stopped on this Mac";
    case HostController::EndReason::helperLeft: return HostController::firstWord(helperName) + " ended it";
    case HostController::EndReason::connectionLost: return "the connection was lost";
    case HostController::EndReason::accessRemoved: return "their access was removed";
    }
    return "stopped on this Mac";
}

bool microphoneOn()
{
    return SystemAudioDevice::shared().io().microphoneOn.load();
}

} // namespace

void HostController::setHelperName(std::optional<std::string> name)
{
    if (helperName_ == name)
        return;
    helperName_ = std::move(name);
    Q_EMIT changed();
}

void HostController::refreshBannerSoon()
{
    QPointer<SessionBannerController> banner(banner_.get());
    QTimer::singleShot(0, this, [banner] {
        if (banner)
            banner->refreshPlacement();
    });
}

void HostController::sendNotice(const std::string& text)
{
    if (!peer_)
        return;
    SessionEvent notice = SessionEvent::make(SessionEvent::Kind::notice);
    notice.text = text;
    peer_->send(notice);
}

CursorWatcher& HostController::cursorWatcher()
{
    if (!cursorWatcher_) {
        cursorWatcher_ = std::make_unique<CursorWatcher>(options_.timers);
        QPointer<HostController> self(this);
        cursorWatcher_->onChange = [self](const CursorShape& shape) {
            if (self)
                self->sendCursorShape(shape);
        };
    }
    return *cursorWatcher_;
}

LocalActivityMonitor& HostController::localActivity()
{
    if (!localActivity_) {
        localActivity_ = std::make_unique<LocalActivityMonitor>(options_.timers);
        QPointer<HostController> self(this);
        localActivity_->onChange = [self](bool active) {
            if (self)
                self->localActivityChanged(active);
        };
    }
    return *localActivity_;
}

void HostController::startSession(const std::string& fullName, HelpMode mode, const Handshake& handshake)
{
    if (!sessionTransport_)
        return;
    setHelperName(fullName);
    overlay_->model.helperName = firstWord(fullName);
    setSharedDisplay(Displays::standard().mainDisplayID());
    {
        auto device = SessionAudioDevice::shared();
        device->setCurrentRole(SessionAudioDevice::Role::hosting);
    }

    QPointer<HostController> self(this);
    peer_ = HostPeer::make(sessionTransport_, sessionRelays_, options_.timers);
    peer_->signAnswer = [self, handshake](const std::string& sdp) -> std::optional<std::string> {
        return self ? self->signAnswer(sdp, handshake) : std::nullopt;
    };
    HostPeer* made = peer_.get();
    peer_->onEnded = [self, made] {
        // Ended from inside the peer's own timer: end the session on the next turn.
        QTimer::singleShot(0, self, [self, made] {
            if (self && self->peer_.get() == made)
                self->endSession(EndReason::connectionLost);
        });
    };
    peer_->onEvent = [self](const SessionEvent& event) {
        if (self)
            self->handleSessionEvent(event);
    };
    peer_->onChannelOpen = [self] {
        if (self)
            self->sendSessionState();
    };

    sendOnSession(SignalMessage::make(SignalMessage::Kind::accepted));
    helpRequests().clearActive();
    mode_ = HelpMode::guide;

    banner_->hide();
    banner_->model = SessionBannerModel{};
    banner_->model.helperFirstName = firstWord(fullName);
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
            self->endSession(EndReason::stopped);
    };
    banner_->present(std::move(actions));
    if (mode == HelpMode::control)
        setMode(HelpMode::control);
}

void HostController::sendSessionState()
{
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
        displays.displays = currentDisplays();
        displays.displayID = sharedDisplay();
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

void HostController::handleSessionEvent(const SessionEvent& event)
{
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
            Permissions::standard().canControl())
            injector_->post(event);
        return;
    case Kind::requestControl: askTakeOver(); return;
    case Kind::releaseControl: setMode(HelpMode::guide); return;
    case Kind::microphone:
        banner_->model.helperMicrophoneOn = event.active.value_or(false);
        refreshBannerSoon();
        return;
    case Kind::end: endSession(EndReason::helperLeft); return;
    case Kind::selectDisplay:
        if (event.displayID)
            selectDisplay(*event.displayID);
        return;
    case Kind::keyFrame: requestKeyFrame(); return;
    case Kind::mode:
    case Kind::localActivity:
    case Kind::notice:
    case Kind::cursor:
    case Kind::displays: return;
    }
}

void HostController::setMode(HelpMode mode)
{
    if (!peer_)
        return;
    if (mode == HelpMode::control && !Permissions::standard().canControl()) {
        Permissions::standard().requestControl();
        pendingNotice_ = "Take over needs a one-time setting on that Mac (Accessibility), and it's been asked to allow "
                         "it. You're in guide mode until then; ask to take over again once it's on.";
        sendSessionState();
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
    sendSessionState();
}

void HostController::askTakeOver()
{
    if (mode_ != HelpMode::guide || askingConsent_ || !helperName_)
        return;
    askingConsent_ = true;
    const std::string first = firstWord(*helperName_);
    AlertRequest alert;
    alert.title = first + " is asking to take over";
    alert.informativeText = first +
        " would use your mouse and keyboard. Move your mouse any time to take it back, "
        "or click Take back control.";
    alert.buttons = {"Allow", "Not now"};
    alert.floating = true;
    QPointer<HostController> self(this);
    int answer = prompts().alert(alert);
    if (!self)
        return;
    askingConsent_ = false;
    if (!peer_)
        return;
    if (answer == 0)
        setMode(HelpMode::control);
    else
        sendNotice("They said not now. You're still in guide mode.");
}

void HostController::selectDisplay(std::uint32_t displayId)
{
    if (!peer_ || displayId == sharedDisplay())
        return;
    bool known = false;
    for (const auto& display : currentDisplays())
        known = known || display.id == displayId;
    if (!known)
        return;
    setSharedDisplay(displayId);
    overlay_->hide();
    peer_->switchDisplay(displayId);
    if (mode_ == HelpMode::control) {
        cursorWatcher().stop();
        cursorWatcher().start();
    }
    SessionEvent displays = SessionEvent::make(SessionEvent::Kind::displays);
    displays.displays = currentDisplays();
    displays.displayID = sharedDisplay();
    peer_->send(displays);
}

void HostController::screensChanged()
{
    if (!peer_)
        return;
    auto displays = currentDisplays();
    bool present = false;
    for (const auto& display : displays)
        present = present || display.id == sharedDisplay();
    if (!present) {
        setSharedDisplay(Displays::standard().mainDisplayID());
        overlay_->hide();
        peer_->switchDisplay(sharedDisplay());
    }
    SessionEvent event = SessionEvent::make(SessionEvent::Kind::displays);
    event.displays = displays;
    event.displayID = sharedDisplay();
    peer_->send(event);
}

void HostController::restoreBannerMouse(bool localActive)
{
    banner_->setIgnoresMouseEvents(mode_ == HelpMode::control && !localActive);
}

void HostController::doSuggestedClick(double x, double y)
{
    if (!peer_ || mode_ != HelpMode::guide)
        return;
    if (!Permissions::standard().canControl()) {
        Permissions::standard().requestControl();
        return;
    }
    banner_->setIgnoresMouseEvents(true);
    for (auto kind : {SessionEvent::Kind::mouseMove, SessionEvent::Kind::mouseDown, SessionEvent::Kind::mouseUp}) {
        SessionEvent event = SessionEvent::make(kind, x, y);
        event.button = 0;
        event.clickCount = 1;
        injector_->post(event);
    }
    QPointer<HostController> self(this);
    bannerMouseTimer_ = timers()(kBannerMouseDelay, [self] {
        if (self)
            self->restoreBannerMouse(self->localActivity_ && self->localActivity_->isActive());
    });
    if (!clicksGoThrough_)
        sendNotice("They let your suggested click go through.");
}

void HostController::doSuggestedClicksAlways(double x, double y)
{
    setClicksGoThrough(true);
    doSuggestedClick(x, y);
}

void HostController::setClicksGoThrough(bool on)
{
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
    sendSessionState();
    if (peer_)
        sendNotice(on ? "They let your suggested clicks go through for the rest of this session."
                      : "They'd like to be asked before each click again.");
}

void HostController::localActivityChanged(bool active)
{
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

void HostController::sendCursorShape(const CursorShape& shape)
{
    if (!peer_)
        return;
    SessionEvent event = SessionEvent::make(SessionEvent::Kind::cursor);
    event.cursorShape = shape;
    peer_->send(event);
}

void HostController::toggleMicrophoneButton()
{
    if (!peer_ && !microphoneOn())
        return;
    QPointer<HostController> self(this);
    SystemAudioDevice::shared().setMicrophone(!microphoneOn(), [self](MicrophoneResult result) {
        if (self)
            self->microphoneSwitched(result);
    });
}

void HostController::microphoneSwitched(MicrophoneResult result)
{
    const bool on = microphoneOn();
    banner_->model.microphoneOn = on;
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

void HostController::endSession(EndReason reason)
{
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
    if (microphoneOn())
        SystemAudioDevice::shared().switchMicrophoneOff();
    if (auto peer = std::move(peer_)) {
        peer_.reset();
        SessionEvent goodbye = SessionEvent::make(SessionEvent::Kind::end);
        goodbye.text = wireWord(reason);
        peer->stop(goodbye);
    }
    if (auto file = std::move(filePeer_)) {
        file->onEnded = nullptr;
        file->close();
        // The link may be ending from inside its own callback: let it go later.
        file.release()->deleteLater();
    }
    if (auto transport = std::move(sessionTransport_)) {
        sessionTransport_.reset();
        transport->onClose = nullptr;
        SignalMessage bye = SignalMessage::make(SignalMessage::Kind::bye);
        bye.reason = wireWord(reason);
        transport->send(bye);
        transport->close();
    }
    handshake_.reset();
    attemptChannel_.reset();
    handshakeTimer_.reset();
    bannerMouseTimer_.reset();
    sessionRelays_.clear();
    fileOfferApplied_ = false;
    overlay_->hide();
    banner_->hide();
    setHelperName(std::nullopt);
}

} // namespace wl
