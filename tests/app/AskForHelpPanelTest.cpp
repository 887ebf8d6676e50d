// The "Ask for help" panel, opened through the host's panel controller over a help
// request centre with fixture helpers and history: the panel's life (same panel again,
// a fresh form after Cancel), the compose form's texts, topics, lock warning, Send in
// its states, Return and Escape, pictures by drop, paste and the open panel with the
// highlight while dragging, the sent state in all its shapes built from fixture
// requests and replies, Cancel Request failing inline, and one real send through the
// introduction service that turns the panel into the sent state. Each centre keeps its
// open request in settings and a pictures folder of the test's own.
#include "PanelTestKit.h"
#include "ServiceProcess.h"
#include "TestDirs.h"

#include "app/AskForHelpView.h"
#include "app/DateText.h"
#include "app/ShellPanel.h"
#include "platform/CaptureExclusion.h"
#include "style/Widgets.h"
#include "style/Palette.h"
#include "host/AskForHelpPanelController.h"
#include "host/HelpRequestCenter.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/Prompts.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QLabel>
#include <QLayout>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>

#include <gtest/gtest.h>

namespace wl::test {
namespace {

constexpr Date T = kFixtureNow;

QImage picture(int w = 320, int h = 200, QColor colour = QColor(200, 80, 40))
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

class AskForHelpPanelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        helpers = {anna.record()};
        prompts = std::make_shared<ScriptedPrompts>();
    }
    void TearDown() override
    {
        closePanel();
        center.reset();
    }

    void make(const std::vector<StoredMessage>& history = {}, const std::string& serviceURL = {})
    {
        closePanel();
        center.reset();
        here.contacts = helpers;
        here.make(history, serviceURL);
        // A centre of its own (its settings in memory): no open request left over from the last one.
        HelpRequestCenter::Options options;
        options.prompts = prompts.get();
        options.defaults = std::make_shared<MemoryDefaults>();
        options.picturesFolder = pictures.path() / ("Request Pictures " + std::to_string(++centres));
        center = std::make_unique<HelpRequestCenter>(
            *here.messenger, [this] { return helpers; }, options);
        center->onShowPasswords = [this] { ++passwordsShown; };
        installShellPanels(*here.passwords, askForHelp, std::make_shared<CaptureExclusion>(), qtTimerFactory());
    }
    // Drops the panel and waits until it is gone: its view follows the centre.
    void closePanel()
    {
        QPointer<QWidget> gone = panel();
        askForHelp.close();
        EXPECT_TRUE(waitUntil([&] { return gone.isNull(); }));
    }
    void show()
    {
        askForHelp.show(*center);
        ASSERT_NE(panel(), nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(panel()));
    }
    ShellPanel* panel() { return dynamic_cast<ShellPanel*>(askForHelp.panel()); }
    AskForHelpView* view() { return panel() ? qobject_cast<AskForHelpView*>(panel()->view()) : nullptr; }
    QPushButton* button(const char* name) { return child<QPushButton>(view(), name); }
    QAbstractButton* topic(const char* name) { return child<QAbstractButton>(view(), name); }
    QPlainTextEdit* note() { return child<QPlainTextEdit>(view(), "noteField"); }
    std::string text(const char* name) { return textOf(view(), name); }
    bool shown(const char* name)
    {
        auto* widget = child<QWidget>(view(), name);
        return widget && widget->isVisibleTo(view());
    }
    HelpRequestCenter::Active active(std::vector<std::string> names = {"Anna Berg"})
    {
        HelpRequestCenter::Active request;
        request.sent = {{anna.id(), "q1"}};
        request.helperNames = std::move(names);
        request.sentAt = T - 120;
        return request;
    }
    StoredMessage reply(const std::string& id, std::optional<std::string> text, Date at = T - 60)
    {
        StoredMessage message;
        message.id = id;
        message.peerId = anna.id();
        message.peerName = "Anna";
        message.content.kind = MailContent::Kind::reply;
        message.content.sentAt = at;
        message.content.replyTo = "q1";
        message.content.text = std::move(text);
        message.at = at;
        return message;
    }

    Computer anna{"Anna Berg"};
    std::vector<PairedDevice> helpers;
    Installation here;
    std::shared_ptr<ScriptedPrompts> prompts;
    TempDir pictures;
    int centres = 0;
    std::unique_ptr<HelpRequestCenter> center;
    AskForHelpPanelController askForHelp;
    int passwordsShown = 0;
};

TEST_F(AskForHelpPanelTest, ThePanelIsKeptUntilItsOwnButtonsCloseIt)
{
    make();
    show();
    EXPECT_EQ(panel()->windowTitle(), "Ask for help");
    EXPECT_EQ(panel()->width(), 400);
    EXPECT_GE(panel()->height(), 480);
    EXPECT_FALSE(panel()->isExcludedFromCapture());

    QTest::mouseClick(topic("topic.printer"), Qt::LeftButton);
    note()->setFocus();
    QTest::keyClicks(note(), "offline again");
    center->addPicture(picture(), "Desk");

    // The title bar's close box only puts it away: the same panel, as it was.
    ShellPanel* first = panel();
    panel()->close();
    EXPECT_FALSE(first->isVisible());
    show();
    EXPECT_EQ(panel(), first);
    EXPECT_EQ(view()->topic(), HelpTopic::printer);
    EXPECT_EQ(note()->toPlainText(), "offline again");
    EXPECT_EQ(askForHelp.shownCount(), 2);

    // Cancel drops it: a fresh form next time; the pictures belong to the centre.
    QPointer<QWidget> dropped = panel();
    QTest::mouseClick(button("cancelButton"), Qt::LeftButton);
    EXPECT_EQ(askForHelp.panel(), nullptr);
    ASSERT_TRUE(waitUntil([&] { return dropped.isNull(); }));
    show();
    EXPECT_FALSE(view()->topic().has_value());
    EXPECT_EQ(note()->toPlainText(), "");
    EXPECT_TRUE(shown("picture.0"));
}

TEST_F(AskForHelpPanelTest, ComposeTextsTopicsAndTheLockWarning)
{
    helpers = {PairedDevice{anna.id(), "Ann Lee", anna.device.publicKeyBase64(), T, {}, {}}};
    make();
    show();
    EXPECT_EQ(text("composeTitle"), "Ask Ann for help");
    EXPECT_EQ(text("composeSubtitle"), "They'll get a notification on their Mac.");
    EXPECT_EQ(text("topicHeading"), "What's it about?");
    EXPECT_EQ(text("noteHeading"), "Anything else? ");
    EXPECT_EQ(note()->placeholderText(), "For example: the printer says it's offline again");
    EXPECT_EQ(text("picturesHeading"), "Show Ann ");
    EXPECT_EQ(text("picturesHint"),
              "Or drag pictures here. Nothing is sent until you press Send; remove anything private.");
    EXPECT_EQ(button("sendButton")->text(), "Send to Ann");
    EXPECT_EQ(button("cancelButton")->text(), "Cancel");
    EXPECT_TRUE(button("sendButton")->isEnabled()) << "no topic, no note, no pictures: Send still may";
    EXPECT_GE(button("sendButton")->width(), 140);
    EXPECT_FALSE(shown("problemLine"));

    // The topics, row by row, in the table's order.
    const std::vector<std::pair<const char*, const char*>> topics = {{"topic.printer", "Printer"},
                                                                     {"topic.email", "Email"},
                                                                     {"topic.internet", "Wi-Fi or internet"},
                                                                     {"topic.password", "A password"},
                                                                     {"topic.looksWrong", "Something looks wrong"},
                                                                     {"topic.other", "Something else"}};
    for (std::size_t i = 0; i < topics.size(); ++i) {
        ASSERT_NE(topic(topics[i].first), nullptr) << topics[i].first;
        EXPECT_EQ(topic(topics[i].first)->text().toStdString(), topics[i].second);
        if (i % 2 == 1) {
            EXPECT_EQ(topic(topics[i].first)->y(), topic(topics[i - 1].first)->y());
            EXPECT_GT(topic(topics[i].first)->x(), topic(topics[i - 1].first)->x());
        }
    }

    EXPECT_FALSE(shown("lockWarning"));
    QTest::mouseClick(topic("topic.password"), Qt::LeftButton);
    EXPECT_EQ(view()->topic(), HelpTopic::password);
    EXPECT_TRUE(topic("topic.password")->isChecked());
    EXPECT_TRUE(shown("lockWarning"));
    EXPECT_EQ(text("lockWarningText"), "Don't type passwords here. Ann can send one securely later.");
    QTest::mouseClick(topic("topic.email"), Qt::LeftButton);
    EXPECT_EQ(view()->topic(), HelpTopic::email);
    EXPECT_FALSE(topic("topic.password")->isChecked());
    EXPECT_FALSE(shown("lockWarning"));
    QTest::mouseClick(topic("topic.password"), Qt::LeftButton);
    QTest::mouseClick(topic("topic.password"), Qt::LeftButton);
    EXPECT_FALSE(view()->topic().has_value()) << "a second tap clears the choice";
    EXPECT_FALSE(shown("lockWarning"));

    // Three helpers: the first two with a comma, the last with "and".
    helpers = {PairedDevice{"a", "Ann Lee", "", T, {}, {}}, PairedDevice{"b", "Bo", "", T, {}, {}},
               PairedDevice{"c", "Cy Moss", "", T, {}, {}}};
    Q_EMIT center->changed();
    EXPECT_EQ(text("composeTitle"), "Ask Ann, Bo and Cy for help");
    EXPECT_EQ(button("sendButton")->text(), "Send to Ann, Bo and Cy");
}

TEST_F(AskForHelpPanelTest, SendInItsStates)
{
    helpers = {};
    make();
    show();
    EXPECT_EQ(text("composeTitle"), "Ask your helper for help");
    QTest::mouseClick(button("sendButton"), Qt::LeftButton);
    EXPECT_EQ(text("problemLine"), "No helpers are paired with this Mac yet.");

    helpers = {anna.record()};
    Q_EMIT center->changed();
    QTest::mouseClick(topic("topic.printer"), Qt::LeftButton);
    QTest::mouseClick(button("sendButton"), Qt::LeftButton);
    EXPECT_TRUE(center->sending());
    EXPECT_FALSE(button("sendButton")->isEnabled());
    EXPECT_EQ(button("sendButton")->text(), "");
    EXPECT_EQ(button("sendButton")->width(), 140);
    EXPECT_TRUE(shown("sendingIndicator"));
    EXPECT_FALSE(shown("problemLine")) << "a new send clears the old problem";
    EXPECT_TRUE(button("cancelButton")->isEnabled());
    ASSERT_TRUE(waitUntil([&] { return !center->sending(); }, 15000));
    EXPECT_EQ(text("problemLine"), "Couldn't reach the Wickerlane service. Check the internet connection.");
    EXPECT_TRUE(button("sendButton")->isEnabled());
    EXPECT_EQ(button("sendButton")->text(), "Send to Anna");
    EXPECT_FALSE(shown("sendingIndicator"));
    EXPECT_EQ(view()->topic(), HelpTopic::printer) << "sending clears neither field";
}

TEST_F(AskForHelpPanelTest, ReturnSendsUnlessTheNoteTakesItAndEscapeCloses)
{
    make();
    show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel()));
    note()->setFocus();
    QTest::keyClicks(note(), "first");
    QTest::keyClick(note(), Qt::Key_Return);
    QTest::keyClicks(note(), "second");
    EXPECT_EQ(note()->toPlainText(), "first\nsecond") << "the note takes Return for its line break";
    EXPECT_FALSE(center->sending());

    topic("topic.email")->setFocus();
    QTest::keyClick(topic("topic.email"), Qt::Key_Return);
    EXPECT_TRUE(center->sending());
    ASSERT_TRUE(waitUntil([&] { return !center->sending(); }, 15000));

    QTest::keyClick(topic("topic.email"), Qt::Key_Escape);
    EXPECT_EQ(askForHelp.panel(), nullptr);
}

TEST_F(AskForHelpPanelTest, PicturesByDropPasteAndTheOpenPanel)
{
    make();
    show();
    EXPECT_TRUE(shown("screenshotTile"));
    EXPECT_TRUE(shown("chooseTile"));

    // Dragging an image file lights the section up; dragging text does not.
    TempDir dir;
    std::vector<QUrl> files;
    for (int i = 0; i < 5; ++i) {
        const QString path = QString::fromStdString((dir.path() / ("photo" + std::to_string(i) + ".png")).string());
        picture(200 + i, 100, QColor(40 * i, 90, 160)).save(path, "PNG");
        files.push_back(QUrl::fromLocalFile(path));
    }
    auto* section = child<RoundedBox>(view(), "picturesSection");
    QMimeData text;
    text.setText("just words");
    QDragEnterEvent enterText(QPoint(50, 50), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view(), &enterText);
    EXPECT_FALSE(enterText.isAccepted());
    EXPECT_FALSE(view()->dropTargeted());
    EXPECT_EQ(section->outlineWidth(), 0);

    QMimeData images;
    images.setUrls(QList<QUrl>(files.begin(), files.end()));
    QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &images, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_TRUE(view()->dropTargeted());
    EXPECT_EQ(section->outlineWidth(), 2);
    EXPECT_EQ(section->outlineColour(), accent());
    EXPECT_EQ(section->layout()->contentsMargins(), QMargins(8, 8, 8, 8));

    // Five files dropped: the first three are kept.
    QDropEvent drop(QPointF(50, 50), Qt::CopyAction, &images, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view(), &drop);
    EXPECT_TRUE(drop.isAccepted());
    EXPECT_FALSE(view()->dropTargeted());
    EXPECT_EQ(section->outlineWidth(), 0);
    ASSERT_EQ(center->draft().size(), 3u);
    EXPECT_EQ(center->draft()[0].name, "photo0");
    EXPECT_EQ(center->draft()[0].type, "image/jpeg");
    EXPECT_FALSE(shown("screenshotTile")) << "no tiles from the third picture on";
    EXPECT_FALSE(shown("chooseTile"));
    auto* remove = child<QPushButton>(view(), "removePicture.1");
    ASSERT_NE(remove, nullptr);
    EXPECT_EQ(remove->accessibleName(), "Remove photo1");
    EXPECT_EQ(child<QLabel>(child<QWidget>(view(), "picture.1"), "thumbnail")->accessibleName(), "photo1");
    EXPECT_EQ(child<QWidget>(view(), "picture.1")->size(), QSize(84, 58));
    QTest::mouseClick(remove, Qt::LeftButton);
    ASSERT_EQ(center->draft().size(), 2u);
    EXPECT_EQ(center->draft()[1].name, "photo2");
    EXPECT_TRUE(shown("screenshotTile"));
    EXPECT_TRUE(shown("chooseTile"));

    // Paste outside the note: an image without a name is "Picture".
    QGuiApplication::clipboard()->setImage(picture(64, 64));
    topic("topic.email")->setFocus();
    view()->paste();
    ASSERT_EQ(center->draft().size(), 3u);
    EXPECT_EQ(center->draft()[2].name, "Picture");
    QTest::mouseClick(child<QPushButton>(view(), "removePicture.2"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>(view(), "removePicture.1"), Qt::LeftButton);

    // Choose…: the open panel asks for as many as still fit. A file that can't be read
    // is left out, and the problem line says which.
    EXPECT_FALSE(shown("problemLine"));
    prompts->answerOpen({files[3].toLocalFile().toStdString(), (dir.path() / "missing.png").string()});
    QTest::mouseClick(child<QPushButton>(view(), "chooseTile"), Qt::LeftButton);
    ASSERT_FALSE(prompts->questions().empty());
    EXPECT_EQ(prompts->questions().back().title, "Choose up to 2 pictures to show");
    ASSERT_EQ(center->draft().size(), 2u);
    EXPECT_EQ(center->draft()[1].name, "photo3");
    EXPECT_EQ(textOf(view(), "problemLine"), "\u201cmissing\u201d couldn't be opened.");

    // Cleared, the line goes.
    center->clearProblem();
    EXPECT_FALSE(shown("problemLine"));
}

TEST_F(AskForHelpPanelTest, TheSentStateInItsShapes)
{
    make();
    show();
    center->setActive(active({"Anna Berg", "Bob"}), {});
    ASSERT_TRUE(waitUntil([&] { return shown("sentState"); }));
    EXPECT_FALSE(shown("composeForm"));
    EXPECT_EQ(text("sentTitle"), "Sent to Anna and Bob");
    EXPECT_EQ(text("sentTime"),
              (shortTime(T - 120) + QStringLiteral(" \u00b7 you can keep using your Mac")).toStdString());
    EXPECT_EQ(text("askedCaption"), "YOU ASKED ABOUT");
    EXPECT_EQ(text("askedTopic"), "Help with your Mac");
    EXPECT_EQ(text("askedNote"), "<missing>");
    EXPECT_FALSE(shown("askedPictures"));
    EXPECT_EQ(textOf(child<QWidget>(view(), "deliveryLine"), "text"), "Delivered \u00b7 waiting for Anna and Bob");
    EXPECT_EQ(textOf(child<QWidget>(view(), "consentLine"), "text"),
              "When they connect, you'll still be asked to allow it. They can't see your screen until you do.");
    EXPECT_EQ(button("cancelRequestButton")->text(), "Cancel Request");
    EXPECT_EQ(button("closeButton")->text(), "Close");
    EXPECT_EQ(panel()->width(), 400);
    EXPECT_LT(panel()->height(), AskForHelpView::kMinimumHeight) << "as high as its content, not the form's minimum";

    auto request = active();
    request.topic = "Printer";
    request.note = "It says it's offline";
    request.attachments = 1;
    center->setActive(request, {});
    EXPECT_EQ(text("askedTopic"), "Printer");
    EXPECT_EQ(text("askedNote"), "\u201cIt says it's offline\u201d");
    EXPECT_EQ(textOf(child<QWidget>(view(), "askedPictures"), "text"),
              "1 picture \u00b7 sent straight to them when they look");
    request.attachments = 2;
    center->setActive(request, {});
    EXPECT_EQ(textOf(child<QWidget>(view(), "askedPictures"), "text"),
              "2 pictures \u00b7 sent straight to them when they look");

    // Replies and password replies, as the history holds them.
    auto sealedReply = here.receivedPassword(anna, "p1", std::nullopt, "oneHour", T + 3600);
    sealedReply.content.replyTo = "q1";
    auto usedReply = here.receivedPassword(anna, "p2", "Wi-Fi", "once", T + 900);
    usedReply.content.replyTo = "q1";
    usedReply.sealed.reset();
    make({reply("m1", "On my way"), reply("m2", std::nullopt), sealedReply, usedReply});
    show();
    center->setActive(active(), {});
    ASSERT_TRUE(waitUntil([&] { return child<QWidget>(view(), "reply.m1") != nullptr; }));
    auto* first = child<QWidget>(view(), "reply.m1");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(textOf(first, "replyText"), "Anna: \u201cOn my way\u201d");
    EXPECT_EQ(textOf(first, "replyTime"), shortTime(T - 60).toStdString());
    EXPECT_EQ(textOf(child<QWidget>(view(), "reply.m2"), "replyText"), "Anna: \u201c\u201d");
    auto* locked = child<QWidget>(view(), "passwordReply.p1");
    ASSERT_NE(locked, nullptr);
    EXPECT_EQ(textOf(locked, "passwordReplyTitle"), "Anna sent the password for you");
    EXPECT_EQ(textOf(locked, "passwordReplyState"), "Locked so only this Mac can open it");
    auto* used = child<QWidget>(view(), "passwordReply.p2");
    EXPECT_EQ(textOf(used, "passwordReplyTitle"), "Anna sent the password for Wi-Fi");
    EXPECT_EQ(textOf(used, "passwordReplyState"), "Used or expired");
    EXPECT_EQ(child<QPushButton>(used, "openButton"), nullptr);
    EXPECT_EQ(child<QWidget>(view(), "deliveryLine"), nullptr);
    QTest::mouseClick(child<QPushButton>(locked, "openButton"), Qt::LeftButton);
    EXPECT_EQ(passwordsShown, 1);

    // Only password replies: no delivery line and no reply cards.
    make({sealedReply});
    show();
    center->setActive(active(), {});
    EXPECT_EQ(child<QWidget>(view(), "deliveryLine"), nullptr);
    EXPECT_EQ(child<QWidget>(view(), "reply.m1"), nullptr);
    EXPECT_NE(child<QWidget>(view(), "passwordReply.p1"), nullptr);
}

// A reply of up to 2,000 characters and a password reply with the longest label, each
// with a run of characters wider than the window, are read whole: the window grows with
// them to the height of the screen's available area, and scrolls from there to its
// Close button.
TEST_F(AskForHelpPanelTest, LongRepliesGrowTheWindowThenScroll)
{
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    auto words = [](std::size_t length) {
        std::string text = "See https://support.example.com/printers/offline-but-light-is-green-0123456789 first. ";
        while (text.size() < length)
            text += "I'll look at it at six, and if the light is still green we'll try the other cable. ";
        text.resize(length - 3);
        return text + "END";
    };
    const std::string label = std::string(110, 'W') + " last word";
    auto sealed = here.receivedPassword(anna, "p1", label, "oneHour", T + 3600);
    sealed.content.replyTo = "q1";
    // What a label shows, without the places to break it offers.
    auto shownOf = [](QLabel* shown) { return shown->text().remove(QChar(0x200B)).toStdString(); };
    std::optional<int> shortHeight;
    for (std::size_t length : {100, 412, 2000}) {
        SCOPED_TRACE(testing::Message() << length << " characters");
        const std::string said = words(length);
        make({reply("m1", said), sealed});
        center->setActive(active(), {});
        show();
        ASSERT_TRUE(waitForNextTurn()) << "the layout has had its pass";
        auto* replyText = child<QLabel>(child<QWidget>(view(), "reply.m1"), "replyText");
        auto* passwordTitle = child<QLabel>(child<QWidget>(view(), "passwordReply.p1"), "passwordReplyTitle");
        ASSERT_NE(replyText, nullptr);
        ASSERT_NE(passwordTitle, nullptr);
        EXPECT_EQ(shownOf(replyText), "Anna: \u201c" + said + "\u201d");
        EXPECT_EQ(shownOf(passwordTitle), "Anna sent the password for " + label);

        EXPECT_EQ(panel()->width(), 400);
        EXPECT_TRUE(available.contains(panel()->frameGeometry())) << "on the screen";
        // Each text has the room its lines need, and the view around it has room for it.
        for (QLabel* text : {replyText, passwordTitle}) {
            SCOPED_TRACE(text->objectName().toStdString());
            EXPECT_GE(text->width(), text->minimumSizeHint().width()) << "no line wider than the label";
            EXPECT_GE(text->height(), text->heightForWidth(text->width())) << "no line below the label";
            EXPECT_TRUE(view()->rect().contains(QRect(text->mapTo(view(), QPoint(0, 0)), text->size())));
        }
        EXPECT_LE(view()->width(), 400);
        const int needed = view()->heightForWidth(view()->width());
        EXPECT_GE(view()->height(), needed);

        // What the window can't show at once, it scrolls to; the bar is there only then.
        auto* scroller = panel()->findChild<QScrollArea*>();
        const bool scrolls = scroller && scroller->verticalScrollBar()->isVisible();
        if (needed <= available.height()) {
            EXPECT_FALSE(scrolls);
            EXPECT_EQ(panel()->height(), needed) << "as high as its content";
        } else {
            ASSERT_TRUE(scrolls) << "content of " << needed << " on a screen of " << available.height();
            EXPECT_EQ(panel()->height(), available.height()) << "grown to the screen's height";
            EXPECT_EQ(view()->height(), scroller->viewport()->height() + scroller->verticalScrollBar()->maximum());
        }
        if (!shortHeight) {
            shortHeight = panel()->height();
        } else {
            EXPECT_GT(panel()->height(), *shortHeight) << "grown with the reply";
        }
        if (length == 2000) {
            EXPECT_TRUE(scrolls) << "2,000 characters: taller than the test screen";
        }

        // The Close button at the end of it all is within reach, and so is the reply's start.
        auto* close = button("closeButton");
        if (scroller)
            scroller->ensureWidgetVisible(close, 0, 0);
        EXPECT_TRUE(panel()->rect().contains(QRect(close->mapTo(panel(), QPoint(0, 0)), close->size())));
        if (scroller)
            scroller->ensureWidgetVisible(replyText, 0, 0);
        EXPECT_TRUE(panel()->rect().contains(replyText->mapTo(panel(), QPoint(0, 0))));
    }

    // The open window follows the reply as it changes: up to the screen's height, moved
    // back onto the screen from its centred place, and down to its content, bar gone.
    make({reply("m1", words(100)), sealed});
    center->setActive(active(), {});
    show();
    ASSERT_TRUE(waitForNextTurn()) << "the layout has had its pass";
    EXPECT_EQ(panel()->height(), *shortHeight);
    EXPECT_GT(panel()->y(), available.top()) << "centred";
    here.messenger->updateMessage("m1", [&](StoredMessage& m) { m.content.text = words(2000); });
    ASSERT_TRUE(waitUntil([&] { return panel()->height() == available.height(); })) << panel()->height();
    EXPECT_TRUE(panel()->findChild<QScrollArea*>()->verticalScrollBar()->isVisible());
    EXPECT_TRUE(waitUntil([&] { return available.contains(panel()->frameGeometry()); })) << "on the screen";
    here.messenger->updateMessage("m1", [&](StoredMessage& m) { m.content.text = words(100); });
    ASSERT_TRUE(waitUntil([&] { return panel()->height() == *shortHeight; })) << panel()->height();
    EXPECT_FALSE(panel()->findChild<QScrollArea*>()->verticalScrollBar()->isVisible());
}

TEST_F(AskForHelpPanelTest, FacesFollowTheRequestAndItsButtons)
{
    make();
    show();
    QTest::mouseClick(topic("topic.internet"), Qt::LeftButton);
    center->setActive(active(), {});
    EXPECT_TRUE(shown("sentState"));
    // Ended by a helper: back to the form as it was.
    center->clearActive();
    EXPECT_TRUE(waitUntil([&] { return shown("composeForm"); }));
    EXPECT_EQ(view()->topic(), HelpTopic::internet);

    // Close keeps the request; Return is Close in the sent state.
    center->setActive(active(), {});
    QPointer<QWidget> closed = panel();
    QTest::mouseClick(button("closeButton"), Qt::LeftButton);
    EXPECT_EQ(askForHelp.panel(), nullptr);
    EXPECT_TRUE(center->active().has_value());
    ASSERT_TRUE(waitUntil([&] { return closed.isNull(); }));
    show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel()));
    QTest::keyClick(panel(), Qt::Key_Return);
    EXPECT_EQ(askForHelp.panel(), nullptr);

    // Cancel Request: the form comes back; a withdrawal that can't go out says so there
    // and in the log.
    show();
    CapturedLog log;
    QTest::mouseClick(button("cancelRequestButton"), Qt::LeftButton);
    EXPECT_FALSE(center->active().has_value());
    EXPECT_TRUE(shown("composeForm"));
    ASSERT_TRUE(waitUntil([&] { return shown("problemLine"); }, 15000));
    EXPECT_EQ(text("problemLine"),
              "The request was cancelled here, but Anna couldn't be told. Couldn't reach the Wickerlane service. "
              "Check the internet connection.");
    EXPECT_TRUE(log.contains("Wickerlane: couldn't tell Anna Berg that the help request was cancelled"));
}

TEST_F(AskForHelpPanelTest, ARealSendTurnsThePanelIntoTheSentState)
{
    ServiceProcess service;
    ASSERT_TRUE(service.start()) << service.log();
    Installation helper{"Anna Berg"};
    helper.self = anna;
    helper.frozen = false;
    helper.contacts = {here.self.record()};
    helper.make({}, service.httpUrl());
    here.frozen = false;
    make({}, service.httpUrl());
    for (auto* installation : {&here, &helper}) {
        installation->messenger->start();
        ASSERT_TRUE(waitUntil([&] {
            return ServiceProcess::httpRequest(service.port(), "GET", "/v1/keys/" + installation->self.id()) == 200;
        }));
    }
    show();
    QTest::mouseClick(topic("topic.printer"), Qt::LeftButton);
    note()->setFocus();
    QTest::keyClicks(note(), "  it's offline ");
    QTest::mouseClick(button("sendButton"), Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return shown("sentState"); }, 15000)) << text("problemLine");
    EXPECT_EQ(text("sentTitle"), "Sent to Anna");
    EXPECT_EQ(text("askedTopic"), "Printer");
    EXPECT_EQ(text("askedNote"), "\u201cit's offline\u201d");

    ASSERT_TRUE(waitUntil(
        [&] {
            for (const auto& m : helper.messenger->messages())
                if (m.content.kind == MailContent::Kind::helpRequest)
                    return true;
            return false;
        },
        15000));
    for (const auto& m : helper.messenger->messages())
        if (m.content.kind == MailContent::Kind::helpRequest) {
            EXPECT_EQ(m.content.topic, std::optional<std::string>("Printer"));
            EXPECT_EQ(m.content.text, std::optional<std::string>("it's offline"));
            EXPECT_FALSE(m.content.attachments.has_value());
        }
    closePanel();
    center.reset();
    helper.messenger.reset();
}

} // namespace
} // namespace wl::test
