#pragma once
// The guide overlay: the helper's pointer and suggestion cards over the shared screen.
// Its windows come with a later change; until then the controller keeps the model up
// to date and shows nothing.

#include "protocol/SessionEvent.h"

#include <QObject>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace wl {

// What the overlay shows.
struct GuideModel {
    std::string helperName; // the first word of the helper's name
    std::optional<SessionEvent> pointer; // the last pointer position, while shown
    std::vector<SessionEvent> suggestions; // suggested clicks waiting for the user
};

class GuideOverlayController final : public QObject {
    Q_OBJECT
public:
    explicit GuideOverlayController(QObject* parent = nullptr) : QObject(parent) { }

    GuideModel model;
    // The user's answers to a suggestion card, at the suggested point (fractions).
    std::function<void(double x, double y)> onDoIt;
    std::function<void(double x, double y)> onDoAlways;

    // A pointer, suggestion or hide event of the helper.
    void show(const SessionEvent& event);
    void hide();
    void dismissSuggestion();
    bool isShown() const { return shown_; }

private:
    bool shown_ = false;
};

} // namespace wl
