// The picture window: its size by the picture and the screen, the zoom keys as a person
// types them, opened from the pictures sheet never smaller than the sheet drew it,
// Escape, any number of windows, data that is no picture or too large a picture, and
// saving: the bytes as they came, through a file that is only replaced when
// complete, a proposed name made safe, and a failure that says so.
#include "ScriptedPrompts.h"
#include "TestDirs.h"
#include "WaitUntil.h"

#include "app/PictureWindow.h"
#include "app/people/PicturesSheet.h"
#include "platform/Log.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImageReader>
#include <QPointer>
#include <QScreen>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace wl::test {
namespace {

TransferredFile jpegOf(int width, int height, const std::string& name = "Screenshot 9.41")
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(QColor(40, 120, 200));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 80);
    return TransferredFile{"f1", name, "image/jpeg", bytes.toStdString()};
}

// Closes every picture window and waits until they are gone.
void closeAll()
{
    const auto windows = openPictureWindows();
    for (const auto& window : windows)
        if (window)
            window->close();
    EXPECT_TRUE(waitUntil([&] {
        return openPictureWindows().empty() &&
            std::all_of(windows.begin(), windows.end(), [](const auto& window) { return window.isNull(); });
    }));
}

TEST(PictureWindow, ItsSizeAndTheZoomKeys)
{
    ScriptedPrompts prompts;
    auto* small = PictureWindowController::show(jpegOf(400, 300), "Ada \u00B7 Screenshot 9.41", prompts);
    ASSERT_NE(small, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(small));
    EXPECT_EQ(small->size(), QSize(400, 300)) << "one point per pixel";
    EXPECT_EQ(small->windowTitle(), "Ada \u00B7 Screenshot 9.41");
    auto& view = small->scrollView();
    EXPECT_DOUBLE_EQ(view.magnification(), 1.0);

    view.setFocus();
    QTest::keyClick(&view, Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(view.magnification(), 1.25);
    QTest::keyClick(&view, Qt::Key_Plus, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_DOUBLE_EQ(view.magnification(), 1.5625);
    QTest::keyClick(&view, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(view.magnification(), 1.25);
    QTest::keyClick(&view, Qt::Key_Equal, Qt::ControlModifier | Qt::AltModifier);
    QTest::keyClick(&view, Qt::Key_Equal, Qt::ControlModifier | Qt::MetaModifier);
    QTest::keyClick(&view, Qt::Key_Equal);
    EXPECT_DOUBLE_EQ(view.magnification(), 1.25) << "only Ctrl (with or without Shift) zooms";
    QTest::keyClick(&view, Qt::Key_0, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(view.magnification(), 1.0) << "fits the window again";
    for (int i = 0; i < 20; ++i)
        QTest::keyClick(&view, Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(view.magnification(), 4.0);
    for (int i = 0; i < 40; ++i)
        QTest::keyClick(&view, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(view.magnification(), 0.05);

    // Larger than 85 % of the screen's free area: the window keeps to that bound and the
    // picture is fitted into it.
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    auto* large = PictureWindowController::show(jpegOf(area.width() * 2, area.height()), "Ada \u00B7 Wide", prompts);
    ASSERT_NE(large, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(large));
    EXPECT_EQ(large->size(), QSize(int(area.width() * 0.85), int(area.height() * 0.85)));
    EXPECT_LT(large->scrollView().magnification(), 0.5);
    EXPECT_NEAR(large->scrollView().magnification() * area.width() * 2, large->scrollView().viewport()->width(), 2);
    closeAll();
}

TEST(PictureWindow, OpensFromThePicturesSheetNoSmallerThanItWasThereAndEscapeClosesIt)
{
    closeAll();
    StoredMessage request;
    request.id = "h";
    request.peerName = "Mom's iMac";
    struct Case {
        QSize size;
        std::string id;
    };
    // Smaller than the sheet draws it (across the tile's width), a tiny one the sheet
    // draws at more than the zoom keys reach, and a large one.
    const std::vector<Case> cases = {{{320, 200}, "small"}, {{100, 40}, "tiny"}, {{1600, 1000}, "large"}};
    std::vector<TransferredFile> files;
    for (const auto& c : cases) {
        files.push_back(jpegOf(c.size.width(), c.size.height(), c.id));
        files.back().id = c.id;
    }
    ScriptedPrompts prompts;
    PicturesSheet sheet(request, files, {}, {&prompts, {}});
    sheet.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&sheet));
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    for (const auto& c : cases) {
        QWidget* tile = nullptr;
        for (auto* each : sheet.findChildren<QWidget*>(QStringLiteral("pictureTile")))
            if (each->property("fileId").toString().toStdString() == c.id)
                tile = each;
        ASSERT_NE(tile, nullptr) << c.id;
        auto* drawn = tile->findChild<QWidget*>(QStringLiteral("pictureButton"));
        ASSERT_NE(drawn, nullptr);
        const int shownWidth = drawn->width(); // the picture spans the tile, its aspect kept
        QTest::mouseClick(tile->findChild<QWidget*>(QStringLiteral("openLarger")), Qt::LeftButton);
        ASSERT_FALSE(openPictureWindows().empty());
        PictureWindowController* window = openPictureWindows().back();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        const double magnification = window->scrollView().magnification();
        EXPECT_GE(magnification * c.size.width(), shownWidth - 1) << c.id;
        EXPECT_LE(window->width(), area.width() * 0.85) << c.id;
        EXPECT_LE(window->height(), area.height() * 0.85) << c.id;
        if (c.id == "large") {
            EXPECT_GT(magnification * c.size.width(), shownWidth * 1.5) << "larger than in the sheet";
        }

        // Escape is the active window's key.
        QPointer<PictureWindowController> open(window);
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window)) << c.id;
        QTest::keyClick(&window->scrollView(), Qt::Key_Escape);
        EXPECT_TRUE(waitUntil([&] { return open.isNull() && openPictureWindows().empty(); })) << c.id;
    }
    closeAll();
}

TEST(PictureWindow, ManyWindowsAndWhatOpensNone)
{
    ScriptedPrompts prompts;
    closeAll();
    const auto file = jpegOf(200, 100);
    auto* first = PictureWindowController::show(file, "One", prompts);
    auto* second = PictureWindowController::show(file, "One", prompts);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first, second);
    EXPECT_EQ(openPictureWindows().size(), 2u);
    QPointer<PictureWindowController> closed(first);
    first->close();
    EXPECT_TRUE(waitUntil([&] { return closed.isNull(); }));
    ASSERT_EQ(openPictureWindows().size(), 1u);
    EXPECT_EQ(openPictureWindows()[0], second);
    EXPECT_TRUE(second->isVisible());

    // Not a picture: no window, no message.
    EXPECT_EQ(PictureWindowController::show({"x", "x", "image/jpeg", "not a picture at all"}, "x", prompts), nullptr);
    EXPECT_EQ(PictureWindowController::show({"x", "x", "image/jpeg", ""}, "x", prompts), nullptr);
    // A picture that claims 60000 x 60000 pixels is not decoded.
    QImage tall(1, 1, QImage::Format_RGB32);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    tall.save(&buffer, "PNG");
    // The width and height of the IHDR chunk, big-endian, at bytes 16 to 23, and the
    // chunk's CRC after them, so that the header itself is valid.
    for (int at : {16, 20}) {
        png[at] = 0;
        png[at + 1] = 0;
        png[at + 2] = char(0xEA);
        png[at + 3] = 0x60;
    }
    quint32 crc = 0xFFFFFFFFu;
    for (int i = 12; i < 29; ++i) {
        crc ^= static_cast<unsigned char>(png[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    crc ^= 0xFFFFFFFFu;
    for (int i = 0; i < 4; ++i)
        png[29 + i] = char((crc >> (24 - 8 * i)) & 0xFF);
    {
        QBuffer header(&png);
        header.open(QIODevice::ReadOnly);
        EXPECT_EQ(QImageReader(&header).size(), QSize(60000, 60000)) << "the header reads as valid";
    }
    EXPECT_TRUE(PictureWindowController::decode(png.toStdString()).isNull());
    EXPECT_EQ(PictureWindowController::show({"x", "x", "image/png", png.toStdString()}, "x", prompts), nullptr);
    EXPECT_EQ(openPictureWindows().size(), 1u);
    closeAll();
    EXPECT_TRUE(openPictureWindows().empty());
}

TEST(PictureWindow, ProposedFileNames)
{
    EXPECT_EQ(proposedPictureFileName("Screenshot 9.41"), "Screenshot 9.41.jpg");
    EXPECT_EQ(proposedPictureFileName("holiday.jpg"), "holiday.jpg.jpg");
    EXPECT_EQ(proposedPictureFileName("../../etc/passwd"), "etcpasswd.jpg");
    EXPECT_EQ(proposedPictureFileName("...hidden"), "hidden.jpg");
    EXPECT_EQ(proposedPictureFileName(std::string("a\0b", 3) + "\n\t\x7F" + "c\u200Ed"), "abcd.jpg");
    EXPECT_EQ(proposedPictureFileName("/"), "Picture.jpg");
    EXPECT_EQ(proposedPictureFileName(""), "Picture.jpg");
    // Long names are cut at 200 bytes, never inside a character.
    const std::string longName = std::string(199, 'a') + "\u00E9\u00E9\u00E9";
    const std::string proposed = proposedPictureFileName(longName);
    EXPECT_EQ(proposed, std::string(199, 'a') + ".jpg");
    EXPECT_LE(proposedPictureFileName(std::string(1000, 'x')).size(), 204u);
}

std::string readAll(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(PictureWindow, SavingWritesTheBytesOrSaysWhyNot)
{
    TempDir folder;
    ScriptedPrompts prompts;
    const auto file = jpegOf(64, 48, "../Printer.jpg");

    // Saved: the bytes as they came.
    const auto target = folder.path() / "picture.jpg";
    prompts.answerSave(target.string());
    EXPECT_TRUE(savePicture(file, prompts));
    ASSERT_EQ(prompts.count(), 1u);
    EXPECT_EQ(prompts.questions()[0].initialText, "Printer.jpg.jpg");
    EXPECT_EQ(readAll(target), file.data);

    // Cancelled: nothing written, nothing said.
    EXPECT_FALSE(savePicture(file, prompts));
    EXPECT_EQ(prompts.count(), 2u);

    // A place that can't be written: an alert and a log line, and an existing file stays
    // whole.
    CapturedLog log;
    prompts.answerSave((folder.path() / "no such folder" / "p.jpg").string());
    EXPECT_FALSE(savePicture(file, prompts));
    ASSERT_EQ(prompts.count(), 4u);
    EXPECT_EQ(prompts.questions()[3].title, "The picture wasn't saved");
    EXPECT_NE(prompts.questions()[3].informativeText.find("no such folder"), std::string::npos);
    EXPECT_TRUE(log.contains("Wickerlane: couldn't save the picture to "));

    std::filesystem::create_directories(folder.path() / "locked");
    const auto kept = folder.path() / "locked" / "old.jpg";
    std::ofstream(kept) << "the old picture";
    std::filesystem::permissions(folder.path() / "locked",
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    prompts.answerSave(kept.string());
    const bool saved = savePicture(file, prompts);
    std::filesystem::permissions(folder.path() / "locked", std::filesystem::perms::owner_all);
    if (::geteuid() != 0) { // root writes anywhere
        EXPECT_FALSE(saved);
        EXPECT_EQ(readAll(kept), "the old picture");
    }

    // From the window: Ctrl+S.
    auto* window = PictureWindowController::show(file, "Ada \u00B7 Printer", prompts);
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    const auto fromWindow = folder.path() / "from window.jpg";
    prompts.answerSave(fromWindow.string());
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window)) << "Ctrl+S is the active window's key";
    QTest::keyClick(window, Qt::Key_S, Qt::ControlModifier);
    EXPECT_TRUE(waitUntil([&] { return std::filesystem::exists(fromWindow); }));
    EXPECT_EQ(readAll(fromWindow), file.data);
    closeAll();
}

} // namespace
} // namespace wl::test
