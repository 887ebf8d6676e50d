#pragma once
// The guide overlay: while a helper guides, the helper's pointer and suggested click
// over the shared display, on top of everything, and a card beside a suggestion with
// which the host's user lets the helper click there. The overlay is a frameless,
// stays-on-top tool window over the whole shared display that lets every click
// through; the card is one that takes clicks. Neither takes the keyboard focus. While
// a card is open, the user's own click within kOwnClickDistance of the suggested place
// clears the suggestion (clicks posted for the helper never do).
//
// Positions are fractions of the shared display, x from the left and y from the top.
// The window is built for the screen of the moment at the first guide event. When the
// displays change (a new resolution, a monitor moved), the overlay follows: the window
// covers the shared display's screen as it is now and an open card moves beside its
// point there. The session hides the overlay when the shared display goes away
// or another one is shared, so the next event builds it where that one is. Main thread
// only.

#include "platform/Displays.h"
#include "platform/LocalInput.h"
#include "platform/OneShotTimer.h"
#include "protocol/SessionEvent.h"

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QScreen;

namespace wl {

class GuideOverlayView;
class SharedDisplay;
class SuggestionCard;
struct LocalInputEvent;

// What the overlay shows.
struct GuideModel {
    struct Point {
        double x = 0, y = 0;
        bool operator==(const Point&) const = default;
    };
    struct Suggestion {
        std::uint64_t id = 0; // new for every suggestion
        Point point;
    };
    std::optional<Point> pointer; // the helper's pointer; none when hidden
    std::vector<Suggestion> suggestions; // the open suggestion; a new one replaces it
    std::string helperName = "Helper"; // the first word of the helper's name
};

class GuideOverlayController final : public QObject {
    Q_OBJECT
public:
    static constexpr double kOwnClickDistance = 48;
    static constexpr std::chrono::milliseconds kDoItDelay{150};
    // The card keeps this far from the suggested point and from the edges of the screen.
    static constexpr int kCardGap = 40;
    static constexpr int kCardMargin = 8;

    // displays: the displays it follows; shared: the display the overlay goes on;
    // input: the user's clicks while a card shows;
    // timers: the delay before a "do it" answer is handed on (required).
    GuideOverlayController(std::shared_ptr<Displays> displays, std::shared_ptr<SharedDisplay> shared,
                           std::shared_ptr<LocalInput> input, TimerFactory timers, QObject* parent = nullptr);
    ~GuideOverlayController() override;

    GuideModel model;
    // The user's answers to a suggestion card, at the suggested point (fractions).
    std::function<void(double x, double y)> onDoIt;
    std::function<void(double x, double y)> onDoAlways;

    // A pointer, suggestion or hide event of the helper.
    void show(const SessionEvent& event);
    // Hides everything and forgets the window.
    void hide();
    // Closes the card and stops watching the user's clicks; the model stays.
    void dismissSuggestion();

    bool isShown() const { return !window_.isNull(); }
    GuideOverlayView* window() const;
    SuggestionCard* suggestionPanel() const;
    bool watchesOwnClicks() const { return clickWatch_ != 0; }

    // Where the card's top-left corner goes for a suggested point, the card's size and
    // the visible part of the screen (all in screen coordinates, y downwards): centred
    // under the point, kCardGap below it, or above it when it would leave the bottom;
    // kept kCardMargin inside the left and right edges (the right edge wins when the
    // card is wider than the screen).
    static QPoint cardOrigin(QPointF point, QSize card, QRect visible);

    // The user's own click (root-window pixels) near the open suggestion.
    void ownClick(const LocalInputEvent& event);

private:
    void showSuggestionPanel(const GuideModel::Suggestion& suggestion);
    // Places the open card beside its point on the screen, and where the user's own
    // click is looked for.
    void placeSuggestionPanel(QScreen* screen, GuideModel::Point point);
    // After a change of the displays: onto the screen as it is now.
    void followScreen();
    void answer(const std::function<void(double, double)>& callback, GuideModel::Point point);
    void refresh();

    const std::shared_ptr<Displays> displays_;
    const std::shared_ptr<SharedDisplay> shared_;
    const std::shared_ptr<LocalInput> input_;
    TimerFactory timers_;
    QPointer<GuideOverlayView> window_;
    QPointer<SuggestionCard> panel_;
    int clickWatch_ = 0;
    // The suggested point in root-window pixels, and pixels per point there.
    QPointF clickTarget_;
    double pixelRatio_ = 1;
    std::uint64_t nextId_ = 1;
    std::vector<std::unique_ptr<OneShotTimer>> answers_;
    int displaysObserver_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace wl
