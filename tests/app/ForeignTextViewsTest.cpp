// Names from other machines in the real widgets: an alert through the desktop prompts,
// the host's suggestion card and the helper's list of people show markup as written
// and leave out line breaks and direction overrides.
#include "PeopleTestKit.h"

#include "app/people/PersonCard.h"
#include "host/SuggestionCard.h"
#include "platform/linux/QtPrompts.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

namespace wl {
namespace {

using namespace wl::test;

// Every label of the widget that shows the text: each shows it as plain text.
void expectShownPlain(QWidget* widget, const QString& text, int atLeast = 1)
{
    int found = 0;
    for (auto* label : widget->findChildren<QLabel*>()) {
        if (!label->text().contains(text))
            continue;
        ++found;
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
    }
    EXPECT_GE(found, atLeast) << text.toStdString();
}

TEST(ForeignTextShown, AlertsSuggestionCardsAndPeopleCardsShowMarkupAsWrittenWithoutOverrides)
{
    // An alert through the desktop prompts: its title, text and buttons.
    {
        QtPrompts prompts;
        bool checked = false;
        auto* poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, poll, [&, poll] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            poll->stop();
            poll->deleteLater();
            expectShownPlain(box, QStringLiteral("<b>Ada</b> wants to help"));
            expectShownPlain(box, QStringLiteral("Show me: <b>Ada</b> sees"));
            bool buttonAsWritten = false;
            for (auto* button : box->findChildren<QPushButton*>())
                buttonAsWritten = buttonAsWritten || button->text() == QStringLiteral("Let <b>Ada</b> && Co show me");
            EXPECT_TRUE(buttonAsWritten);
            checked = true;
            box->reject();
        });
        poll->start(10);
        prompts.alert({"<b>Ada</b> wants to help with your Mac",
                       "Show me: <b>Ada</b> sees your screen.",
                       {"Let <b>Ada</b> & Co show me", "Not now"}});
        EXPECT_TRUE(checked);
    }

    // The host's suggestion card.
    {
        SuggestionCard card("<b>Ada</b>\u202E", {});
        card.show();
        ASSERT_NE(card.title(), nullptr);
        EXPECT_EQ(card.title()->textFormat(), Qt::PlainText);
        EXPECT_EQ(card.title()->text(), QStringLiteral("<b>Ada</b> suggests clicking here"));
        EXPECT_EQ(card.thisTimeButton()->text(), QStringLiteral("Let <b>Ada</b> do it this time"));
    }

    // The helper's list: a person's card and their Mac's line.
    {
        PeopleRig rig;
        const auto mac = host("\u202E<i>Ada's</i>\nMac\u2066", "<b>Ada</b>");
        rig.make({mac});
        PersonCard* card = rig.card("<b>Ada</b>");
        ASSERT_NE(card, nullptr);
        auto* name = PeopleRig::child<QLabel>(card, "personName");
        ASSERT_NE(name, nullptr);
        EXPECT_EQ(name->textFormat(), Qt::PlainText);
        EXPECT_EQ(name->text(), QStringLiteral("<b>Ada</b>"));
        PeopleRig::click(PeopleRig::child(rig.card("<b>Ada</b>"), "personHeader")); // the card opens
        QWidget* line = rig.line(mac);
        ASSERT_NE(line, nullptr);
        auto* device = PeopleRig::child<QLabel>(line, "deviceName");
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(device->textFormat(), Qt::PlainText);
        EXPECT_EQ(device->text(), QStringLiteral("<i>Ada's</i> Mac"));
    }
}

} // namespace
} // namespace wl
