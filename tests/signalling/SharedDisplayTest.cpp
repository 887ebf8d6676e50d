#include "host/SharedDisplay.h"

#include "FixedDisplays.h"

#include <gtest/gtest.h>

using namespace wl;

namespace {
Display display(std::uint32_t id, const std::string& name, int x, bool main)
{
    Display d;
    d.id = id;
    d.name = name;
    d.x = x;
    d.width = 1920;
    d.height = 1080;
    d.main = main;
    return d;
}

class SharedDisplayTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        displays = std::make_shared<test::FixedDisplays>(
            std::vector<Display>{display(66, "HDMI-1", 0, true), display(67, "DP-2", 1920, false)});
        shared = std::make_shared<SharedDisplay>(displays);
    }
    std::shared_ptr<test::FixedDisplays> displays;
    std::shared_ptr<SharedDisplay> shared;
};
} // namespace

TEST_F(SharedDisplayTest, StartsOnTheMainDisplayAndFollowsChanges)
{
    EXPECT_EQ(currentDisplays(*displays),
              (std::vector<DisplayInfo>{{66, "HDMI-1", 1920, 1080}, {67, "DP-2", 1920, 1080}}));
    EXPECT_EQ(shared->id(), 66u);
    EXPECT_EQ(shared->screen()->name, "HDMI-1");

    shared->set(67);
    EXPECT_EQ(shared->id(), 67u);
    EXPECT_EQ(shared->screen()->name, "DP-2");

    // Gone: the first display stands in, and the shared id is not changed by asking.
    displays->setDisplays({display(66, "HDMI-1", 0, true)});
    EXPECT_EQ(shared->screen()->id, 66u);
    EXPECT_EQ(shared->id(), 67u);

    displays->setDisplays({});
    EXPECT_EQ(shared->screen(), std::nullopt);
    EXPECT_TRUE(currentDisplays(*displays).empty());
    // Without a QGuiApplication there is no QScreen.
    EXPECT_EQ(shared->qscreen(), nullptr);
}

TEST_F(SharedDisplayTest, NoDisplayYetIsNotRemembered)
{
    displays->setDisplays({});
    EXPECT_EQ(shared->id(), 0u);
    displays->setDisplays({display(5, "eDP-1", 0, false), display(9, "HDMI-1", 0, true)});
    EXPECT_EQ(shared->id(), 9u);
}

TEST_F(SharedDisplayTest, ObserversHearOfChanges)
{
    int changes = 0;
    int token = displays->addObserver([&] { ++changes; });
    displays->setDisplays({});
    EXPECT_EQ(changes, 1);
    displays->removeObserver(token);
    displays->setDisplays({});
    EXPECT_EQ(changes, 1);
}
