#include "host/GuideOverlayController.h"

namespace wl {

void GuideOverlayController::show(const SessionEvent& event)
{
    using Kind = SessionEvent::Kind;
    switch (event.kind) {
    case Kind::pointer:
        model.pointer = event;
        shown_ = true;
        break;
    case Kind::suggest:
        model.suggestions.push_back(event);
        shown_ = true;
        break;
    case Kind::hide: hide(); break;
    default: break;
    }
}

void GuideOverlayController::hide()
{
    model.pointer.reset();
    model.suggestions.clear();
    shown_ = false;
}

void GuideOverlayController::dismissSuggestion()
{
    if (!model.suggestions.empty())
        model.suggestions.erase(model.suggestions.begin());
}

} // namespace wl
