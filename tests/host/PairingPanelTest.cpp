// The "Pair a new helper" panel: the code in two halves, Cancel and the close box.
#include "WaitUntil.h"

#include "host/PairingPanelController.h"

#include <QLabel>
#include <QPointer>
#include <QPushButton>

#include <gtest/gtest.h>

namespace wl {
namespace {

TEST(PairingPanelTest, ShowsTheCodeInTwoHalvesAndCancels)
{
    PairingPanelController controller;
    int cancels = 0;
    controller.show("K7QM3XRP", [&] { ++cancels; });
    ASSERT_NE(controller.panel(), nullptr);
    EXPECT_TRUE(controller.panel()->isVisible());
    EXPECT_EQ(controller.panel()->windowTitle(), "Pair a new helper");
    auto* code = controller.panel()->findChild<QLabel*>("code");
    ASSERT_NE(code, nullptr);
    EXPECT_EQ(code->text(), "K7QM-3XRP");
    auto* title = controller.panel()->findChild<QLabel*>("title");
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), "Pair a new helper");

    auto* cancel = controller.panel()->findChild<QPushButton*>("cancel");
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->text(), "Cancel");
    cancel->click();
    EXPECT_EQ(cancels, 1);
    EXPECT_EQ(controller.panel(), nullptr);

    // Closing the window counts as Cancel; the host ordering it out does not.
    controller.show("ABCDEFGH", [&] { ++cancels; });
    controller.panel()->close();
    EXPECT_EQ(cancels, 2);
    EXPECT_EQ(controller.panel(), nullptr);

    controller.show("ABCDEFGH", [&] { ++cancels; });
    QPointer<QWidget> orderedOut = controller.panel();
    controller.close();
    EXPECT_EQ(controller.panel(), nullptr);
    ASSERT_TRUE(test::waitUntil([&] { return orderedOut.isNull(); }));
    EXPECT_EQ(cancels, 2);
}

} // namespace
} // namespace wl
