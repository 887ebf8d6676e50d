// The session banner on a composited desktop: its texts and controls in each state,
// its place at the top right of the main screen, and clicks that reach what lies
// beneath it while it ignores the mouse.
#include "DesktopBackends.h"
#include "DeskScreen.h"

#include "host/InputInjector.h"
#include "host/SessionBannerController.h"
#include "host/SessionBannerView.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QTextDocumentFragment>

namespace wl::test {
namespace {

// A tooltip as it reads (names in it are shown as plain text, so it travels as rich text).
QString tipText(const QWidget* widget)
{
    return QTextDocumentFragment::fromHtml(widget->toolTip()).toPlainText().replace(QChar(0xA0), QLatin1Char(' '));
}

TEST(SessionBannerPlacement, TopRightOfTheVisibleArea)
{
    EXPECT_EQ(SessionBannerController::placement(QSize(500, 52), QRect(0, 0, 1280, 720)), QPoint(768, 8));
    EXPECT_EQ(SessionBannerController::placement(QSize(640, 52), QRect(0, 28, 1280, 692)), QPoint(628, 36));
}

class SessionBanner : public ::testing::Test {
protected:
    void SetUp() override
    {
        actions.onToggleControl = [this] { calls.push_back("control"); };
        actions.onAskEachTime = [this] { calls.push_back("ask"); };
        actions.onToggleMicrophone = [this] { calls.push_back("microphone"); };
        actions.onStop = [this] { calls.push_back("stop"); };
    }
    void TearDown() override
    {
        banner.hide();
        EXPECT_TRUE(waitForNextTurn()) << "the banner is gone";
    }
    void present(const SessionBannerModel& model)
    {
        banner.model = model;
        banner.present(actions);
        ASSERT_TRUE(waitUntil([&] { return inPlace(); })) << "the banner is on the X server's screen";
    }
    // The banner is shown, and the X server has it where the banner has placed itself.
    bool inPlace() const
    {
        SessionBannerView* view = banner.panel();
        return view && view->windowHandle() && view->windowHandle()->isExposed() &&
            view->windowHandle()->geometry() == view->geometry();
    }
    QRect onScreen(QWidget* child) const { return QRect(child->mapToGlobal(QPoint(0, 0)), child->size()); }

    SessionBannerController banner{desktop().displays};
    SessionBannerController::Actions actions;
    std::vector<std::string> calls;
};

TEST_F(SessionBanner, EachStateSaysWhoHelpsAndHow)
{
    SessionBannerModel model;
    model.helperFirstName = "Ada";
    present(model);
    ASSERT_TRUE(banner.isShown());
    SessionBannerView* view = banner.panel();
    EXPECT_EQ(view->status()->text(), "Ada is helping with your Mac");
    EXPECT_FALSE(view->askEachTimeButton()->isVisible());
    EXPECT_FALSE(view->helperMicrophone()->isVisible());
    EXPECT_EQ(view->controlButton()->text(), "Let Ada take over");
    EXPECT_EQ(tipText(view->microphoneButton()), "Your microphone is off. Click to talk with Ada.");
    EXPECT_EQ(view->microphoneButton()->accessibleName(), "Turn your microphone on");
    EXPECT_FALSE(banner.ignoresMouseEvents());
    EXPECT_FALSE(view->isActiveWindow()) << "it never takes the focus";
    // Top right of the main screen's visible area.
    const QRect visible = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(view->geometry().topRight(), QPoint(visible.right() - 12, visible.top() + 8));
    QImage shot;
    auto drawn = [&](const QColor& colour, int tolerance, int atLeast) {
        return waitUntil([&] {
            shot = screenshot(0, 0, 1280, 80);
            return countNear(shot, view->geometry(), colour, tolerance) > atLeast;
        });
    };
    EXPECT_TRUE(drawn(QColor(27, 29, 31), 12, view->width() * view->height() / 3)) << "drawn on the screen";
    saveForGallery(shot.copy(view->geometry().adjusted(-8, -8, 8, 8)), "banner-guide");
    // The dark pill with a teal dot and white text.
    EXPECT_GT(countNear(shot, view->geometry(), QColor(27, 29, 31), 12), view->width() * view->height() / 3);
    EXPECT_GT(countNear(shot, view->geometry(), QColor(76, 195, 184), 30), 20);
    const int rightEdge = view->geometry().right();

    // Clicks go through: status, "Ask each time"; the banner grows to the left.
    banner.model.clicksGoThrough = true;
    banner.model.helperMicrophoneOn = true;
    banner.model.microphoneOn = true;
    banner.refreshPlacement();
    ASSERT_TRUE(waitUntil([&] { return inPlace(); })) << "the X server has the banner's new size";
    EXPECT_EQ(view->status()->text(), "Ada is helping \u00b7 their clicks go through");
    EXPECT_TRUE(view->askEachTimeButton()->isVisible());
    EXPECT_TRUE(view->helperMicrophone()->isVisible());
    EXPECT_EQ(tipText(view->helperMicrophone()), "Ada's microphone is on: you can hear them");
    EXPECT_EQ(tipText(view->microphoneButton()), "Your microphone is on. Click to turn it off.");
    EXPECT_EQ(view->geometry().right(), rightEdge);
    saveForGallery(screenshot(0, 0, 1280, 80).copy(view->geometry().adjusted(-8, -8, 8, 8)),
                   "banner-clicks-go-through");

    // Control, the user idle; then the user active.
    banner.model.clicksGoThrough = false;
    banner.model.mode = HelpMode::control;
    banner.refreshPlacement();
    ASSERT_TRUE(waitUntil([&] { return inPlace(); })) << "the X server has the banner's new size";
    EXPECT_EQ(view->status()->text(), "Ada is controlling your Mac");
    EXPECT_EQ(view->controlButton()->text(), "Take back control");
    EXPECT_FALSE(view->askEachTimeButton()->isVisible());
    banner.model.localActive = true;
    banner.refreshPlacement();
    ASSERT_TRUE(waitUntil([&] { return inPlace(); })) << "the X server has the banner's new size";
    EXPECT_EQ(view->status()->text(), "You have the mouse \u00b7 Ada is paused");
    EXPECT_TRUE(drawn(QColor(251, 191, 36), 30, 20)) << "the amber dot on the screen";
    saveForGallery(shot.copy(view->geometry().adjusted(-8, -8, 8, 8)), "banner-control-paused");
    EXPECT_GT(countNear(shot, view->geometry(), QColor(251, 191, 36), 30), 20) << "the amber dot";

    // An empty name still reads.
    banner.model = SessionBannerModel{};
    banner.refreshPlacement();
    EXPECT_EQ(view->status()->text(), " is helping with your Mac");
}

TEST_F(SessionBanner, EveryControlCallsItsAction)
{
    SessionBannerModel model;
    model.helperFirstName = "Ada";
    model.clicksGoThrough = true;
    present(model);
    SessionBannerView* view = banner.panel();
    ASSERT_TRUE(view);
    // Real clicks on the screen, as the host's user makes them.
    LocalUser user("");
    ASSERT_TRUE(user.ok());
    for (QAbstractButton* button :
         {view->askEachTimeButton(), view->microphoneButton(), view->controlButton(), view->stopButton()}) {
        const QPoint centre = onScreen(button).center();
        const std::size_t before = calls.size();
        user.moveTo(centre.x(), centre.y());
        user.click(1);
        EXPECT_TRUE(waitUntil([&] { return calls.size() > before; })) << button->objectName().toStdString();
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"ask", "microphone", "control", "stop"}));
}

TEST_F(SessionBanner, IgnoringTheMouseLetsClicksThroughToTheWindowBelow)
{
    SessionBannerModel model;
    model.helperFirstName = "Ada";
    model.mode = HelpMode::control;
    XEventProbe below("", 0, 0, 1280, 200);
    ASSERT_TRUE(below.ok());
    present(model);
    banner.setIgnoresMouseEvents(true);
    ASSERT_TRUE(syncWithX()) << "the X server has the banner's empty input region";
    SessionBannerView* view = banner.panel();
    const QRect stop = onScreen(view->stopButton());
    auto shared = std::make_shared<SharedDisplay>(desktop().displays);
    shared->set(desktop().displays->list().front().id);
    InputInjector injector(desktop().inputPoster, shared);
    auto click = [&] {
        for (auto kind : {SessionEvent::Kind::mouseMove, SessionEvent::Kind::mouseDown, SessionEvent::Kind::mouseUp}) {
            SessionEvent event = SessionEvent::make(kind, stop.center().x() / 1280.0, stop.center().y() / 720.0);
            event.button = 0;
            injector.post(event);
        }
    };
    click();
    EXPECT_TRUE(below.waitFor([](const auto& events) {
        for (const auto& e : events)
            if (e.type == ProbeEvent::Type::buttonPress)
                return true;
        return false;
    }));
    EXPECT_TRUE(calls.empty());

    // Taking mouse events again: the click is the banner's.
    below.clear();
    banner.setIgnoresMouseEvents(false);
    ASSERT_TRUE(syncWithX()) << "the X server has the banner's input region back";
    click();
    ASSERT_TRUE(waitUntil([&] { return !calls.empty(); }));
    EXPECT_EQ(calls, (std::vector<std::string>{"stop"}));
    below.pump();
    EXPECT_TRUE(below.eventsOf(ProbeEvent::Type::buttonPress).empty());
}

} // namespace
} // namespace wl::test
