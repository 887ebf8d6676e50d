// The guide overlay on a composited desktop: where the card goes at the screen's edges,
// what the overlay shows over a window (a screenshot, looked at pixel by pixel), the
// "do it" answers, and the user's own click near a suggestion against one posted for
// the helper.
#include "DesktopBackends.h"
#include "DeskScreen.h"

#include "host/GuideOverlayController.h"
#include "host/GuideOverlayView.h"
#include "host/InputInjector.h"
#include "host/SuggestionCard.h"
#include "platform/LocalInput.h"
#include "style/Palette.h"

#include <QAbstractButton>
#include <QLabel>

#include <algorithm>

namespace wl::test {
namespace {

using namespace std::chrono_literals;

SessionEvent guide(SessionEvent::Kind kind, double x, double y)
{
    return SessionEvent::make(kind, x, y);
}

TEST(GuideOverlayPlacement, TheCardStaysOnTheScreen)
{
    const QRect visible(0, 0, 1280, 720);
    const QSize card(300, 90);
    // Under the point, centred, 40 below it.
    EXPECT_EQ(GuideOverlayController::cardOrigin({640, 360}, card, visible), QPoint(490, 400));
    // At the left and right edges: 8 inside.
    EXPECT_EQ(GuideOverlayController::cardOrigin({0, 100}, card, visible).x(), 8);
    EXPECT_EQ(GuideOverlayController::cardOrigin({100, 100}, card, visible).x(), 8);
    EXPECT_EQ(GuideOverlayController::cardOrigin({1280, 100}, card, visible).x(), 1280 - 300 - 8);
    // Near the bottom: above the point, its bottom edge 40 above it.
    EXPECT_EQ(GuideOverlayController::cardOrigin({640, 700}, card, visible), QPoint(490, 700 - 40 - 90));
    EXPECT_EQ(GuideOverlayController::cardOrigin({640, 720 - 8 - 90 - 40}, card, visible).y(), 720 - 8 - 90);
    EXPECT_EQ(GuideOverlayController::cardOrigin({640, 720 - 8 - 90 - 39}, card, visible).y(), 720 - 8 - 90 - 39 - 130);
    // A card wider than the room: the right edge wins.
    EXPECT_EQ(GuideOverlayController::cardOrigin({640, 100}, QSize(1400, 90), visible).x(), 1280 - 1400 - 8);
    // A screen that does not start at the origin (the right monitor, a panel on top).
    const QRect right(1280, 30, 1024, 738);
    EXPECT_EQ(GuideOverlayController::cardOrigin({1280, 40}, card, right), QPoint(1288, 80));
    EXPECT_EQ(GuideOverlayController::cardOrigin({2304, 40}, card, right).x(), 2304 - 300 - 8);
}

class GuideOverlay : public ::testing::Test {
protected:
    void SetUp() override
    {
        displays = desktop().displays->list();
        ASSERT_EQ(displays.size(), 2u);
        shared->set(displays.front().id);
        overlay.model.helperName = "Ada";
        overlay.onDoIt = [this](double x, double y) { doIt.push_back({x, y}); };
        overlay.onDoAlways = [this](double x, double y) { doAlways.push_back({x, y}); };
    }
    void TearDown() override
    {
        overlay.hide();
        EXPECT_TRUE(waitForNextTurn()) << "what hiding queued has run";
    }

    std::vector<Display> displays;
    ManualTimers timers;
    std::shared_ptr<SharedDisplay> shared = std::make_shared<SharedDisplay>(desktop().displays);
    GuideOverlayController overlay{desktop().displays, shared, desktop().localInput, timers.factory()};
    std::vector<GuideModel::Point> doIt, doAlways;
};

TEST_F(GuideOverlay, PointerTagRingAndCardOverAWindow)
{
    // A window of a flat colour over the whole left display.
    const QColor blue(40, 90, 200);
    XEventProbe window("", 0, 0, 1280, 720, blue.rgb() & 0xffffff);
    ASSERT_TRUE(window.ok());
    overlay.show(guide(SessionEvent::Kind::pointer, 0.25, 0.25));
    overlay.show(guide(SessionEvent::Kind::suggest, 0.5, 0.5));
    ASSERT_TRUE(overlay.isShown());
    ASSERT_TRUE(overlay.suggestionPanel());
    EXPECT_TRUE(overlay.watchesOwnClicks());
    EXPECT_EQ(overlay.window()->geometry(), QRect(0, 0, 1280, 720)) << "over the shared display";
    EXPECT_TRUE(overlay.window()->windowHandle()->flags() & Qt::WindowTransparentForInput);
    EXPECT_FALSE(overlay.window()->isActiveWindow());
    SuggestionCard* card = overlay.suggestionPanel();
    EXPECT_EQ(card->title()->text(), "Ada suggests clicking here");
    EXPECT_EQ(card->thisTimeButton()->text(), "Let Ada do it this time");
    EXPECT_EQ(card->alwaysButton()->text(), "Let Ada do it always");
    EXPECT_EQ(card->closeButton()->toolTip(), "Not now: you can click it yourself, or ignore it");
    EXPECT_EQ(card->geometry().topLeft(),
              GuideOverlayController::cardOrigin({640, 360}, card->size(), QRect(0, 0, 1280, 720)));
    // Both windows drawn on the composited screen: the arrow's tip and the card.
    QImage screen;
    EXPECT_TRUE(waitUntil([&] {
        screen = screenshot(0, 0, 1280, 720);
        const QRect cardArea = card->geometry();
        return near(screen.pixelColor(323, 190), guideAccent(), 40) &&
            countNear(screen, cardArea, guideAccent(), 40) > cardArea.width() * cardArea.height() / 3;
    }));
    saveForGallery(screen, "guide-overlay");
    // Away from every drawing the window shows through: the overlay is clear.
    EXPECT_TRUE(near(screen.pixelColor(100, 600), blue)) << screen.pixelColor(100, 600).name().toStdString();
    EXPECT_TRUE(near(screen.pixelColor(1000, 100), blue));
    // The arrow: its tip at a quarter across and down, filled with the guide colour, a
    // white edge on its left side.
    EXPECT_TRUE(near(screen.pixelColor(323, 190), guideAccent(), 40))
        << screen.pixelColor(323, 190).name().toStdString();
    EXPECT_GT(countWhitish(screen, QRect(318, 178, 22, 30)), 8) << "its white edge";
    // The name tag beside it: the guide colour with white letters.
    const QRect tag = overlay.window()->tagRect({320, 180}).toAlignedRect();
    EXPECT_GT(countNear(screen, tag, guideAccent(), 40), tag.width() * tag.height() / 3);
    EXPECT_GT(countWhitish(screen, tag), 10);
    // The ring around the suggested point, with the window inside it.
    int ring = 0;
    for (int r = 20; r <= 40; ++r)
        ring += near(screen.pixelColor(640 + r, 360), guideAccent(), 60) ? 1 : 0;
    EXPECT_GT(ring, 0);
    EXPECT_TRUE(near(screen.pixelColor(640, 360), blue));
    // The card: the guide colour, the white "this time" button, white text.
    const QRect cardRect = card->geometry();
    EXPECT_GT(countNear(screen, cardRect, guideAccent(), 40), cardRect.width() * cardRect.height() / 3);
    const QRect thisTime(card->thisTimeButton()->mapTo(card, QPoint(0, 0)) + cardRect.topLeft(),
                         card->thisTimeButton()->size());
    EXPECT_GT(countWhitish(screen, thisTime), thisTime.width() * thisTime.height() / 2);
    // Its corners are round: the window shows at the very corner.
    EXPECT_TRUE(near(screen.pixelColor(cardRect.topLeft()), blue, 40));

    // The pointer and the tag at the very corners of the display.
    overlay.show(guide(SessionEvent::Kind::pointer, 0, 0));
    EXPECT_TRUE(waitUntil([] { return near(screenshot(0, 0, 60, 60).pixelColor(3, 10), guideAccent(), 40); }));
}

// Without a compositing manager the clear parts of the overlay would be black over the
// whole screen: the window is shaped to its drawings instead, and hidden while it draws
// nothing.
TEST_F(GuideOverlay, WithoutACompositorTheWindowIsShapedToItsDrawings)
{
    const QColor blue(40, 90, 200);
    XEventProbe window("", 0, 0, 1280, 720, blue.rgb() & 0xffffff);
    ASSERT_TRUE(window.ok());
    GuideModel model;
    model.helperName = "Ada";
    GuideOverlayView view(model);
    view.setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowTransparentForInput);
    view.setGeometry(0, 0, 1280, 720);
    view.setShapedToDrawings(true);
    view.present();
    ASSERT_TRUE(waitForNextTurn());
    EXPECT_FALSE(view.isVisible()) << "nothing to draw, no window";

    model.pointer = GuideModel::Point{0.25, 0.25};
    model.suggestions = {{1, {0.5, 0.5}}};
    view.refresh(model);
    ASSERT_TRUE(view.isVisible());
    // Drawn on the X server's screen: the arrow shows over the blue window.
    EXPECT_TRUE(waitUntil([&] { return near(screenshot(0, 0, 1280, 720).pixelColor(322, 188), guideAccent(), 40); }));
    const QRegion mask = view.mask();
    EXPECT_TRUE(mask.contains(QPoint(321, 184))) << "the arrow";
    EXPECT_TRUE(mask.contains(view.tagRect({320, 180}).center().toPoint())) << "the name tag";
    EXPECT_TRUE(mask.contains(QPoint(640 + 28, 360))) << "the ring";
    EXPECT_FALSE(mask.contains(QPoint(640, 360))) << "inside the ring";
    EXPECT_FALSE(mask.contains(QPoint(100, 600)));
    const QImage screen = screenshot(0, 0, 1280, 720);
    EXPECT_TRUE(near(screen.pixelColor(322, 188), guideAccent(), 40));
    EXPECT_TRUE(near(screen.pixelColor(640 + 28, 360), guideAccent(), 40));
    EXPECT_TRUE(near(screen.pixelColor(640, 360), blue));
    EXPECT_TRUE(near(screen.pixelColor(100, 600), blue));

    // The pointer moves: the shape follows.
    model.pointer = GuideModel::Point{0.75, 0.25};
    view.refresh(model);
    EXPECT_TRUE(view.mask().contains(QPoint(961, 184)));
    EXPECT_FALSE(view.mask().contains(QPoint(321, 184)));

    model.pointer.reset();
    model.suggestions.clear();
    view.refresh(model);
    EXPECT_FALSE(view.isVisible());
}

TEST_F(GuideOverlay, HideClearsThePointerOnlyAndANewSuggestionReplacesTheOld)
{
    overlay.show(guide(SessionEvent::Kind::pointer, 0.1, 0.1));
    overlay.show(guide(SessionEvent::Kind::suggest, 0.3, 0.3));
    QPointer<SuggestionCard> first = overlay.suggestionPanel();
    overlay.show(guide(SessionEvent::Kind::hide, 0, 0));
    EXPECT_FALSE(overlay.model.pointer);
    ASSERT_EQ(overlay.model.suggestions.size(), 1u);
    EXPECT_TRUE(overlay.suggestionPanel());
    overlay.show(guide(SessionEvent::Kind::suggest, 0.7, 0.7));
    EXPECT_TRUE(
        waitUntil([&] { return (!first || !first->isVisible()) && overlay.suggestionPanel() != first.data(); }));
    ASSERT_EQ(overlay.model.suggestions.size(), 1u);
    EXPECT_EQ(overlay.model.suggestions[0].point, (GuideModel::Point{0.7, 0.7}));
    EXPECT_TRUE(!first || !first->isVisible()) << "one card at a time";
    EXPECT_NE(overlay.suggestionPanel(), first.data());
    EXPECT_TRUE(overlay.watchesOwnClicks());

    // Hidden: a new event builds the window on the display shared then.
    overlay.hide();
    EXPECT_FALSE(overlay.isShown());
    EXPECT_TRUE(overlay.model.suggestions.empty());
    EXPECT_FALSE(overlay.watchesOwnClicks());
    shared->set(displays.back().id);
    overlay.show(guide(SessionEvent::Kind::pointer, 0.5, 0.5));
    ASSERT_TRUE(overlay.isShown());
    EXPECT_EQ(overlay.window()->geometry(), QRect(1280, 0, 1024, 768));
}

TEST_F(GuideOverlay, DoItHandsTheFractionsOnAfterTheCardIsGone)
{
    overlay.show(guide(SessionEvent::Kind::suggest, 0.3, 0.6));
    ASSERT_TRUE(overlay.suggestionPanel());
    overlay.suggestionPanel()->thisTimeButton()->click();
    EXPECT_TRUE(overlay.model.suggestions.empty());
    EXPECT_FALSE(overlay.suggestionPanel());
    EXPECT_FALSE(overlay.watchesOwnClicks());
    EXPECT_TRUE(doIt.empty()) << "not before 0.15 s";
    ASSERT_EQ(timers.activeCount(150ms), 1u);
    ASSERT_TRUE(timers.fireNext(150ms));
    ASSERT_EQ(doIt.size(), 1u);
    EXPECT_EQ(doIt[0], (GuideModel::Point{0.3, 0.6}));

    overlay.show(guide(SessionEvent::Kind::suggest, 0.9, 0.1));
    overlay.suggestionPanel()->alwaysButton()->click();
    ASSERT_TRUE(timers.fireNext(150ms));
    ASSERT_EQ(doAlways.size(), 1u);
    EXPECT_EQ(doAlways[0], (GuideModel::Point{0.9, 0.1}));

    overlay.show(guide(SessionEvent::Kind::suggest, 0.5, 0.5));
    overlay.suggestionPanel()->closeButton()->click();
    EXPECT_TRUE(overlay.model.suggestions.empty());
    EXPECT_FALSE(overlay.suggestionPanel());
    EXPECT_EQ(timers.activeCount(150ms), 0u);
}

TEST_F(GuideOverlay, TheUsersOwnClickNearTheSuggestionClearsItAPostedOneNever)
{
    LocalUser user("");
    ASSERT_TRUE(user.ok());
    InputInjector injector(desktop().inputPoster, shared);
    XEventProbe window("", 0, 0, 1280, 720);
    // The suggested point is (640, 360) on the left display.
    overlay.show(guide(SessionEvent::Kind::suggest, 0.5, 0.5));
    ASSERT_TRUE(overlay.watchesOwnClicks());
    // The user's events as a watcher of the test's own gets them: the overlay's watcher
    // has each one by the time this one has.
    std::vector<LocalInputEvent> seen;
    struct Watch {
        int token;
        ~Watch() { desktop().localInput->unwatch(token); }
    } watch{desktop().localInput->watch([&](const LocalInputEvent& event) { seen.push_back(event); })};
    auto cameThrough = [&](LocalInputEvent::Kind kind, int button) {
        return waitUntil([&] {
            return std::any_of(seen.begin(), seen.end(), [&](const LocalInputEvent& event) {
                return event.kind == kind && event.button == button;
            });
        });
    };

    // The helper's click, posted right on the point: the suggestion stays.
    for (auto kind : {SessionEvent::Kind::mouseMove, SessionEvent::Kind::mouseDown, SessionEvent::Kind::mouseUp}) {
        SessionEvent event = SessionEvent::make(kind, 0.5, 0.5);
        event.button = 0;
        injector.post(event);
    }
    ASSERT_TRUE(window.waitFor([](const auto& events) {
        for (const auto& e : events)
            if (e.type == ProbeEvent::Type::buttonRelease)
                return true;
        return false;
    }));
    // A move of the user's after it: the local input has read the posted click by then.
    user.moveTo(640 + 34, 360 + 35);
    ASSERT_TRUE(cameThrough(LocalInputEvent::Kind::pointerMotion, 0));
    EXPECT_EQ(overlay.model.suggestions.size(), 1u);
    EXPECT_TRUE(overlay.suggestionPanel());

    // The user's own click 48.8 away: it stays.
    seen.clear();
    user.click(1);
    ASSERT_TRUE(cameThrough(LocalInputEvent::Kind::buttonPress, 1));
    EXPECT_EQ(overlay.model.suggestions.size(), 1u);
    // A right click right on it: it stays.
    user.moveTo(640, 360);
    user.click(3);
    ASSERT_TRUE(cameThrough(LocalInputEvent::Kind::buttonPress, 3));
    EXPECT_EQ(overlay.model.suggestions.size(), 1u);
    // Exactly 48 away: gone.
    user.moveTo(640 + 48, 360);
    user.click(1);
    ASSERT_TRUE(waitUntil([&] { return overlay.model.suggestions.empty(); }));
    EXPECT_FALSE(overlay.suggestionPanel());
    EXPECT_FALSE(overlay.watchesOwnClicks());
}

} // namespace
} // namespace wl::test
