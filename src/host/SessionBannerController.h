#pragma once
// The session banner: a small dark pill at the top right of the main screen while a
// helper is connected, saying who helps and how, with the host user's controls (ask
// before each suggested click again, the microphone, hand over or take back control,
// stop). It is a frameless, stays-on-top tool window that never takes the keyboard
// focus; in take-over mode, while the host's user is idle, it lets clicks through so
// the helper's clicks reach what lies beneath it.
//
// The session changes the model and then asks for refreshPlacement on the
// next turn of the main loop, which brings the content, size and place up to date.
// Main thread only.

#include "host/SessionBannerView.h"
#include "platform/Displays.h"
#include "protocol/SessionEvent.h"

#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRect>

#include <functional>
#include <memory>
#include <string>

namespace wl {

class SessionBannerController final : public QObject {
    Q_OBJECT
public:
    // The banner keeps this far from the right edge and the top of the visible area.
    static constexpr int kRightMargin = 12;
    static constexpr int kTopMargin = 8;

    // displays: whether windows can be translucent.
    explicit SessionBannerController(std::shared_ptr<Displays> displays, QObject* parent = nullptr);
    ~SessionBannerController() override;

    SessionBannerModel model;
    // Where the program's tray icon is on the screen, when the tray tells (an empty
    // rectangle otherwise): the banner keeps clear of it.
    std::function<QRect()> trayIconGeometry;

    using Actions = SessionBannerView::Actions;

    // Shows a new banner for a session with these actions.
    void present(Actions actions);
    void hide();
    // Brings the banner up to date with the model and places it.
    void refreshPlacement();
    // Whether the banner lets mouse events through to what is below it.
    void setIgnoresMouseEvents(bool ignores);
    // Whether a pixel of the root window (the X server's pixels) is on the shown banner.
    bool covers(QPointF pixel) const;

    bool isShown() const { return panel_ != nullptr; }
    bool ignoresMouseEvents() const { return ignoresMouse_; }
    SessionBannerView* panel() const { return panel_; }

    // The banner's top-left corner for its size and the available area of the main
    // screen (without the panels that reserve their room): kRightMargin from the right
    // edge, kTopMargin below the top. Where that would cover the tray icon, the banner
    // goes kTopMargin below the icon, or left of it when there is no room below.
    static QPoint placement(QSize size, QRect available, QRect trayIcon = {});

private:
    const std::shared_ptr<Displays> displays_;
    void applyMouseHandling();

    QPointer<SessionBannerView> panel_;
    bool ignoresMouse_ = false;
};

} // namespace wl
