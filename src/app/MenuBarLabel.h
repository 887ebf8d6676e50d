#pragma once
// What the tray icon shows: one of five states folded from both sides, the first match
// winning: a helper in session here or this computer connecting to or helping another
// (inSession), help requests off (off), Screen Recording missing (attention), an open
// help request of this computer (helpRequested), else ready. It is chosen again
// whenever the host controller, the viewer controller or the help-request centre
// publishes a change.

#include "app/MenuBarIcon.h"

#include <QObject>
#include <QPointer>

namespace wl {

class HelpRequestCenter;
class HostController;
class ViewerController;

class MenuBarLabel final : public QObject {
    Q_OBJECT
public:
    MenuBarLabel(HostController& host, ViewerController& viewer, HelpRequestCenter& helpRequests,
                 QObject* parent = nullptr);

    MenuBarIcon::State state() const { return state_; }

    static MenuBarIcon::State chooseState(bool helperInSession, bool viewerInSession, bool listening,
                                          bool canRecordScreen, bool openRequest);

Q_SIGNALS:
    // The state changed.
    void changed();

private:
    void update();

    QPointer<HostController> host_;
    QPointer<ViewerController> viewer_;
    QPointer<HelpRequestCenter> helpRequests_;
    MenuBarIcon::State state_ = MenuBarIcon::State::ready;
};

} // namespace wl
