// The host's cursor shape for the helper: read through XFixes, reported once per
// change, encoded again only for a new cursor, with the shared display's width.
#include "DesktopBackends.h"
#include "ManualTimers.h"
#include "WaitUntil.h"
#include "XDesk.h"
#include "XInputProbe.h"

#include "host/CursorWatcher.h"
#include "platform/CursorImages.h"
#include "platform/Displays.h"
#include "platform/InputPoster.h"
#include "host/SharedDisplay.h"

#include <QImage>

#include <gtest/gtest.h>

namespace wl::test {
namespace {

using namespace std::chrono_literals;

class FixedCursor final : public CursorImages {
public:
    std::optional<CursorImage> current() override { return image; }
    std::optional<CursorImage> image;
};

QImage decodePng(const std::string& base64)
{
    QImage image;
    image.loadFromData(QByteArray::fromBase64(QByteArray::fromStdString(base64)), "PNG");
    return image;
}

TEST(CursorWatcherOnX, ANewCursorIsReportedOnceAnUnchangedOneNever)
{
    auto displays = desktop().displays->list();
    ASSERT_EQ(displays.size(), 2u);
    auto shared = std::make_shared<SharedDisplay>(desktop().displays);
    shared->set(displays.front().id);
    XEventProbe window("", 100, 100, 400, 300);
    ASSERT_TRUE(window.ok());
    desktop().inputPoster->movePointer(300, 250); // over the window

    ManualTimers timers;
    CursorWatcher watcher(desktop().cursorImages, shared, timers.factory());
    std::vector<CursorShape> reports;
    watcher.onChange = [&](const CursorShape& shape) { reports.push_back(shape); };
    watcher.start();
    ASSERT_EQ(reports.size(), 1u) << "the current shape at once";
    EXPECT_EQ(timers.activeCount(CursorWatcher::kPollInterval), 1u);
    watcher.start(); // running already: nothing
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_EQ(timers.activeCount(CursorWatcher::kPollInterval), 1u);

    // Unchanged: polls report nothing and encode nothing.
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(timers.fireNext(CursorWatcher::kPollInterval));
    EXPECT_EQ(reports.size(), 1u);
    EXPECT_EQ(watcher.encodings(), 1);

    // The window gets a hand cursor.
    constexpr unsigned kHand = 60; // XC_hand2
    window.setFontCursor(kHand);
    ASSERT_TRUE(waitUntil([&] {
        timers.fireNext(CursorWatcher::kPollInterval);
        return reports.size() >= 2;
    }));
    ASSERT_EQ(reports.size(), 2u);
    const CursorPicture expected = currentCursorPicture();
    ASSERT_GT(expected.width, 0);
    const CursorShape shape = reports.back(); // a copy: more reports come
    EXPECT_EQ(shape.width, expected.width);
    EXPECT_EQ(shape.height, expected.height);
    EXPECT_EQ(shape.hotSpotX, expected.hotSpotX);
    EXPECT_EQ(shape.hotSpotY, expected.hotSpotY);
    EXPECT_EQ(shape.screenWidth, displays.front().width);
    const QImage png = decodePng(shape.png);
    ASSERT_EQ(png.size(), QSize(expected.width, expected.height));
    const QImage premultiplied = png.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    int differing = 0;
    for (int y = 0; y < expected.height; ++y)
        for (int x = 0; x < expected.width; ++x)
            differing += premultiplied.pixel(x, y) != QRgb(expected.pixels[std::size_t(y * expected.width + x)]);
    EXPECT_EQ(differing, 0);
    EXPECT_NE(shape.png, reports.front().png);
    EXPECT_EQ(watcher.encodings(), 2);

    // Unchanged again: nothing.
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(timers.fireNext(CursorWatcher::kPollInterval));
    EXPECT_EQ(reports.size(), 2u);

    // Another display shared, of another width: the same image again with that width,
    // without encoding it again.
    shared->set(displays.back().id);
    ASSERT_TRUE(timers.fireNext(CursorWatcher::kPollInterval));
    ASSERT_EQ(reports.size(), 3u);
    EXPECT_EQ(reports.back().png, shape.png);
    EXPECT_EQ(reports.back().screenWidth, displays.back().width);
    EXPECT_EQ(watcher.encodings(), 2);

    // Stopped and started: the current shape is reported again.
    watcher.stop();
    EXPECT_EQ(timers.activeCount(CursorWatcher::kPollInterval), 0u);
    watcher.start();
    EXPECT_EQ(reports.size(), 4u);
    watcher.stop();

    window.unsetCursor();
}

TEST(CursorWatcherOnX, ACursorWithoutWidthOrHeightIsNotReported)
{
    auto fixed = std::make_shared<FixedCursor>();
    CursorImage empty;
    empty.width = 0;
    empty.height = 16;
    empty.serial = 7;
    fixed->image = empty;
    ManualTimers timers;
    CursorWatcher watcher(fixed, std::make_shared<SharedDisplay>(desktop().displays), timers.factory());
    int reports = 0;
    watcher.onChange = [&](const CursorShape&) { ++reports; };
    watcher.start();
    ASSERT_TRUE(timers.fireNext(CursorWatcher::kPollInterval));
    fixed->image->width = 16;
    fixed->image->height = 0;
    fixed->image->serial = 8;
    ASSERT_TRUE(timers.fireNext(CursorWatcher::kPollInterval));
    EXPECT_EQ(reports, 0);
    EXPECT_EQ(watcher.encodings(), 0);
    // A real one then is.
    fixed->image->height = 2;
    fixed->image->width = 2;
    fixed->image->pixels = {0xff000000, 0xffffffff, 0xffffffff, 0xff000000};
    fixed->image->serial = 9;
    ASSERT_TRUE(timers.fireNext(CursorWatcher::kPollInterval));
    EXPECT_EQ(reports, 1);
    watcher.stop();
}

} // namespace
} // namespace wl::test
