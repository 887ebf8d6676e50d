#include "host/AskForHelpPanelController.h"

#include <QPointer>

namespace wl {

AskForHelpPanelController::AskForHelpPanelController(QObject* parent) : QObject(parent) { }

AskForHelpPanelController::~AskForHelpPanelController() = default;

void AskForHelpPanelController::show(HelpRequestCenter& center)
{
    ++shown_;
    if (panel_) {
        panel_->present();
        return;
    }
    if (!makePanel)
        return;
    QPointer<AskForHelpPanelController> self(this);
    panel_ = makePanel(center, [self] {
        if (self)
            self->close();
    });
    if (!panel_)
        return;
    panel_->centre();
    panel_->present();
}

void AskForHelpPanelController::close()
{
    if (!panel_)
        return;
    panel_.release()->discardLater();
}

} // namespace wl
