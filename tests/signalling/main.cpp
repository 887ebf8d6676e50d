#include <QCoreApplication>

#include "platform/OneShotTimer.h"
#include "platform/linux/QtTimers.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    wl::setStandardTimers(wl::qtTimerFactory());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
