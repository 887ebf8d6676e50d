#include "TestEnvironment.h"

#include "platform/linux/XConnection.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <thread>

using namespace wl;

// The capture thread and the main thread each hold a connection: an X error one of them
// caused (a window that went away) must not read as a failure of the other's requests.
TEST(XConnectionErrors, AnErrorCountsOnlyOnTheConnectionThatCausedIt)
{
    auto mine = XConnection::open();
    WL_REQUIRE_TEST_ENV(mine, "an X server");
    const int before = mine->errorCount();

    bool otherFailed = false;
    int otherErrors = 0;
    std::thread other([&] {
        auto theirs = XConnection::open();
        ASSERT_TRUE(theirs);
        XMapWindow(theirs->display(), Window(0x7fffffff)); // no such window
        otherFailed = !theirs->sync();
        otherErrors = theirs->errorCount();
    });
    other.join();

    EXPECT_TRUE(otherFailed);
    EXPECT_GE(otherErrors, 1);
    EXPECT_EQ(mine->errorCount(), before);
    EXPECT_TRUE(mine->sync());
}
