#pragma once
// The controller of the "Ask for help" window. The window comes with a later change;
// until then show() only notes the request.

#include <QObject>

namespace wl {

class HelpRequestCenter;

class AskForHelpPanelController final : public QObject {
    Q_OBJECT
public:
    explicit AskForHelpPanelController(QObject* parent = nullptr) : QObject(parent) { }

    // Opens the window for the centre's draft, or its open request; brings it to the front.
    void show(HelpRequestCenter&) { ++shown_; }
    int shownCount() const { return shown_; }

private:
    int shown_ = 0;
};

} // namespace wl
