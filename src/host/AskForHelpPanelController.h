#pragma once
// The controller of the "Ask for help" window; the host controller makes the one of the
// process. The first show makes the panel for the help request centre and keeps it;
// later shows bring that same panel (with what was typed in it) to the front. The
// window's own close box only puts it away; its Cancel and Close buttons close it for
// good (close()), and the next show starts a fresh form. The window is the application
// shell's: it sets makePanel; without one, show() only counts.

#include "mail/PanelWindow.h"

#include <QObject>

#include <functional>
#include <memory>

namespace wl {

class HelpRequestCenter;

class AskForHelpPanelController final : public QObject {
    Q_OBJECT
public:
    // Makes the panel for the centre; the panel runs onClose for its Cancel and Close.
    using MakePanel =
        std::function<std::unique_ptr<PanelWindow>(HelpRequestCenter& center, std::function<void()> onClose)>;

    explicit AskForHelpPanelController(QObject* parent = nullptr);
    ~AskForHelpPanelController() override;

    MakePanel makePanel;

    // Opens the window for the centre's draft, or its open request; brings it to the front.
    void show(HelpRequestCenter& center);
    // Takes the panel off the screen and drops it with what was typed in it.
    void close();

    PanelWindow* panel() const { return panel_.get(); }
    int shownCount() const { return shown_; }

private:
    std::unique_ptr<PanelWindow> panel_;
    int shown_ = 0;
};

} // namespace wl
