#pragma once
// Posts the helper's mouse, scroll and key events in take-over mode, tagged so that the
// local-activity monitor can tell them from the user's own. The X11 backend comes with
// a later change; until then events are counted and nothing is posted.

#include "protocol/SessionEvent.h"

#include <QObject>

namespace wl {

class InputInjector final : public QObject {
    Q_OBJECT
public:
    explicit InputInjector(QObject* parent = nullptr) : QObject(parent) { }

    void post(const SessionEvent& event);
    // Lets go of every button and key it holds down.
    void releaseAll();

    int postedCount() const { return posted_; }
    int releasedCount() const { return released_; }

private:
    int posted_ = 0;
    int released_ = 0;
};

} // namespace wl
