#include "app/MenuBarLabel.h"

#include "host/HelpRequestCenter.h"
#include "host/HostController.h"
#include "viewer/ViewerController.h"

namespace wl {

MenuBarLabel::MenuBarLabel(HostController& host, ViewerController& viewer, HelpRequestCenter& helpRequests,
                           QObject* parent)
    : QObject(parent), host_(&host), viewer_(&viewer), helpRequests_(&helpRequests)
{
    connect(&host, &HostController::changed, this, &MenuBarLabel::update);
    connect(&viewer, &ViewerController::changed, this, &MenuBarLabel::update);
    connect(&helpRequests, &HelpRequestCenter::changed, this, &MenuBarLabel::update);
    update();
}

MenuBarIcon::State MenuBarLabel::chooseState(bool helperInSession, bool viewerInSession, bool listening,
                                             bool canRecordScreen, bool openRequest)
{
    using State = MenuBarIcon::State;
    if (helperInSession || viewerInSession)
        return State::inSession;
    if (!listening)
        return State::off;
    if (!canRecordScreen)
        return State::attention;
    if (openRequest)
        return State::helpRequested;
    return State::ready;
}

void MenuBarLabel::update()
{
    bool viewerInSession = false;
    if (viewer_) {
        using K = ViewerController::Phase::Kind;
        const auto kind = viewer_->session().phase().kind;
        viewerInSession = kind == K::waiting || kind == K::connected;
    }
    const auto state =
        chooseState(host_ && host_->helperName().has_value(), viewerInSession, host_ && host_->isListening(),
                    !host_ || host_->canRecordScreen(), helpRequests_ && helpRequests_->active().has_value());
    if (state == state_)
        return;
    state_ = state;
    Q_EMIT changed();
}

} // namespace wl
