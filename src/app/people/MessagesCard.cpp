#include "app/people/MessagesCard.h"

#include "style/Palette.h"
#include "app/people/HelpRequestAnswers.h"
#include "style/Widgets.h"
#include "app/people/PeopleView.h"
#include "platform/ShownText.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace wl {

std::vector<MessageRowModel> messagesCardModel(const std::vector<StoredMessage>& messages, Date now)
{
    std::vector<MessageRowModel> rows;
    for (const auto& message : messages) {
        MessageRowModel row;
        row.message = message;
        const std::string name = shownName(message.peerName);
        row.correspondent = message.outgoing ? "To " + name : name;
        row.text = shownText(message.content.text.value_or(""), kShownNoteLength, LineBreaks::keep);
        row.age = relativeAge(message.at, now);
        row.canReply = !message.outgoing;
        rows.push_back(std::move(row));
    }
    return rows;
}

MessagesCard::MessagesCard(PeopleView& view, std::vector<MessageRowModel> rows, QWidget* parent)
    : QWidget(parent), rows_(std::move(rows))
{
    setObjectName(QStringLiteral("messagesCard"));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(14, 14, 14, 14);
    stack->setSpacing(10);
    auto* header = plainLabel("MESSAGES", TextStyle::caption, secondaryText(), this, false, QFont::DemiBold);
    header->setObjectName(QStringLiteral("messagesHeader"));
    stack->addWidget(header);

    QPointer<PeopleView> owner(&view);
    for (const auto& model : rows_) {
        auto* row = new QWidget(this);
        row->setObjectName(QStringLiteral("messageRow"));
        row->setProperty("messageId", QString::fromStdString(model.message.id));
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(12);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        auto* who = plainLabel(model.correspondent, TextStyle::caption, secondaryText(), row);
        who->setObjectName(QStringLiteral("correspondent"));
        texts->addWidget(who);
        auto* text = plainLabel(model.text, TextStyle::body, primaryText(), row, true);
        text->setObjectName(QStringLiteral("messageText"));
        text->setMinimumHeight(text->fontMetrics().height());
        texts->addWidget(text);
        layout->addLayout(texts, 1);
        auto* age = plainLabel(model.age, TextStyle::caption, secondaryText(), row);
        age->setObjectName(QStringLiteral("messageAge"));
        view.showAge(age, {}, model.message.at);
        layout->addWidget(age, 0, Qt::AlignTop);
        if (model.canReply) {
            auto* reply = new QPushButton(QStringLiteral("Reply"), row);
            reply->setObjectName(QStringLiteral("messageReply"));
            connect(reply, &QPushButton::clicked, this, [owner, message = model.message] {
                if (owner)
                    owner->answers().composeReply(message);
            });
            layout->addWidget(reply, 0, Qt::AlignTop);
        }
        stack->addWidget(row);
    }
    if (rows_.empty())
        hide();
}

void MessagesCard::paintEvent(QPaintEvent*)
{
    if (rows_.empty())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 16, 16);
    p.fillPath(shape, cardFill());
}

} // namespace wl
