#include "app/people/RequestBlock.h"

#include "style/Palette.h"
#include "app/people/HelpRequestAnswers.h"
#include "style/Widgets.h"
#include "app/people/PeopleView.h"
#include "mail/AskForText.h"
#include "mail/PasswordCenter.h"
#include "platform/ShownText.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace wl {

namespace {

constexpr const char* kDot = " \u00b7 ";
constexpr const char* kPasswordTopic = "A password";

// A small row of a symbol and a text; the text ends in "…" where the row cuts it when
// asked.
QWidget* symbolLabel(Symbol symbol, const std::string& text, TextStyle style, const QColor& colour, int weight,
                     QWidget* parent, bool elides = false)
{
    auto* holder = new QWidget(parent);
    auto* row = new QHBoxLayout(holder);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(new SymbolView(symbol, colour, 13, holder), 0, Qt::AlignTop);
    QLabel* label = elides ? new ElidedLabel(text, style, colour, holder, weight)
                           : plainLabel(text, style, colour, holder, false, weight);
    label->setObjectName(QStringLiteral("labelText"));
    row->addWidget(label, 1);
    return holder;
}

} // namespace

const std::vector<std::string>& quickReplies()
{
    static const std::vector<std::string> replies{"In 10 minutes", "On my way", "Later today", "Call me"};
    return replies;
}

std::string sentPasswordWord(SentPasswordState state)
{
    switch (state) {
    case SentPasswordState::sent: return "Sent";
    case SentPasswordState::delivered: return "Delivered";
    case SentPasswordState::opened: return "Opened";
    case SentPasswordState::unsent: return "Unsent";
    case SentPasswordState::expired: return "Expired";
    }
    return "Sent";
}

RequestBlockModel requestBlockModel(const StoredMessage& request, const std::vector<PairedDevice>& devices,
                                    const std::vector<StoredMessage>& sentReplies,
                                    const std::vector<std::pair<StoredMessage, SentPasswordState>>& sent, bool fetching)
{
    RequestBlockModel model;
    model.request = request;
    const MailContent& content = request.content;
    if (content.topic)
        model.topic = shownText(*content.topic, kShownTopicLength);
    if (content.text)
        model.note = shownText(*content.text, kShownNoteLength, LineBreaks::keep);
    model.fetching = fetching;
    if (content.attachments && *content.attachments > 0) {
        const int count = *content.attachments;
        if (fetching)
            model.picturesText =
                std::string("Getting ") + (count == 1 ? "the picture" : "the pictures") + " from their Mac\u2026";
        else
            model.picturesText = std::to_string(count) + (count == 1 ? " picture" : " pictures") + kDot + "View";
    }
    if (!sentReplies.empty())
        model.replied = "You replied: " +
            shownText(sentReplies.back().content.text.value_or(""), kShownNoteLength, LineBreaks::keep);
    model.passwordRequest = content.topic == std::optional<std::string>(kPasswordTopic);

    for (const auto& [message, state] : sent) {
        SentPasswordLine line;
        line.message = message;
        line.state = state;
        line.text =
            shownText(message.content.label.value_or("Password"), kShownTopicLength) + kDot + sentPasswordWord(state);
        line.opened = state == SentPasswordState::opened;
        line.canUnsend = state == SentPasswordState::sent || state == SentPasswordState::delivered;
        if (line.opened)
            model.opened = true;
        model.sent.push_back(std::move(line));
    }
    model.doneTooltip =
        model.opened ? "They've opened the password; clear this request" : "Clear this request without connecting";

    if (model.passwordRequest) {
        model.askerName = shownName(request.peerName);
        for (const auto& device : devices)
            if (device.id == request.peerId) {
                model.askerName = shownName(device.name);
                break;
            }
        model.statusTitle = model.sent.empty() ? "Send it securely" : "Sent securely";
        model.explanation = "Encrypted so only " + model.askerName +
            " can open it, with Touch ID or their Mac's password. It never shows on a shared screen and is gone "
            "when it expires.";
        model.sendTitle = model.sent.empty() ? "Send Password Securely" : "Send Another";
    }
    return model;
}

RequestBlock::RequestBlock(PeopleView& view, RequestBlockModel model, QWidget* parent)
    : QWidget(parent), view_(view), model_(std::move(model))
{
    setObjectName(QStringLiteral("requestBlock"));
    setProperty("requestId", QString::fromStdString(model_.request.id));
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(66, 0, 14, 12);
    stack->setSpacing(10);
    stack->addWidget(makeText());
    if (model_.passwordRequest)
        stack->addWidget(makePasswordBlock());
    stack->addWidget(makeActionRow());
}

QWidget* RequestBlock::makeText()
{
    auto* holder = new QWidget(this);
    auto* stack = new QVBoxLayout(holder);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(4);
    if (model_.topic) {
        auto* topic = plainLabel(*model_.topic, TextStyle::headline, primaryText(), holder, true);
        topic->setObjectName(QStringLiteral("requestTopic"));
        stack->addWidget(topic);
    }
    if (model_.note) {
        auto* note = plainLabel(*model_.note, TextStyle::body, requestNoteText(), holder, true);
        note->setObjectName(QStringLiteral("requestNote"));
        note->setMinimumHeight(note->fontMetrics().height());
        stack->addWidget(note);
    }
    if (model_.picturesText) {
        auto* button = plainButton(QString::fromStdString(*model_.picturesText),
                                   textFont(TextStyle::callout, QFont::DemiBold), askingAccent(), holder);
        button->setObjectName(QStringLiteral("picturesButton"));
        button->setEnabled(!model_.fetching);
        if (model_.fetching) {
            // A small spinning indicator before the text.
            auto* row = new QHBoxLayout;
            row->setSpacing(6);
            auto* spinner = new QProgressBar(holder);
            spinner->setObjectName(QStringLiteral("picturesSpinner"));
            spinner->setRange(0, 0);
            spinner->setTextVisible(false);
            spinner->setFixedSize(16, 6);
            row->addWidget(spinner, 0, Qt::AlignVCenter);
            row->addWidget(button, 0, Qt::AlignVCenter);
            row->addStretch(1);
            stack->addLayout(row);
        } else {
            button->setIcon(symbolIcon(Symbol::photoStack, 32, askingAccent()));
            button->setIconSize(QSize(16, 16));
            stack->addWidget(button, 0, Qt::AlignLeft);
        }
        QPointer<PeopleView> owner(&view_);
        connect(button, &QPushButton::clicked, this, [owner, request = model_.request] {
            if (owner)
                owner->answers().showPictures(request);
        });
    }
    if (model_.replied) {
        // A long reply is cut on one line; the whole of it is the line's tooltip.
        auto* replied =
            symbolLabel(Symbol::replyArrow, *model_.replied, TextStyle::caption, accent(), -1, holder, true);
        replied->setObjectName(QStringLiteral("repliedText"));
        stack->addWidget(replied);
    }
    return holder;
}

QWidget* RequestBlock::makePasswordBlock()
{
    auto* block = new RoundedPanel(accentFill(), 12, this);
    block->setObjectName(QStringLiteral("passwordBlock"));
    block->setOutline(withOpacity(accent(), 0.45), 1);
    auto* stack = new QVBoxLayout(block);
    stack->setContentsMargins(12, 12, 12, 12);
    stack->setSpacing(10);

    auto* status = new QHBoxLayout;
    status->setSpacing(10);
    auto* shield = new SymbolView(Symbol::lockShield, accent(), 22, block);
    shield->setAccessibleName(QString());
    status->addWidget(shield, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* title = plainLabel(model_.statusTitle, TextStyle::headline, primaryText(), block);
    title->setObjectName(QStringLiteral("passwordStatusTitle"));
    texts->addWidget(title);
    auto* explanation = plainLabel(model_.explanation, TextStyle::caption, secondaryText(), block, true);
    explanation->setObjectName(QStringLiteral("passwordExplanation"));
    texts->addWidget(explanation);
    status->addLayout(texts, 1);
    stack->addLayout(status);

    QPointer<PeopleView> owner(&view_);
    for (const auto& line : model_.sent) {
        auto* row = new QWidget(block);
        row->setObjectName(QStringLiteral("sentPassword"));
        row->setProperty("messageId", QString::fromStdString(line.message.id));
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(8);
        const QColor colour = line.opened ? accent() : primaryText();
        layout->addWidget(symbolLabel(line.opened ? Symbol::checkmarkSeal : Symbol::key, line.text, TextStyle::callout,
                                      colour, QFont::Medium, row),
                          1);
        if (line.canUnsend) {
            auto* unsend = new QPushButton(QStringLiteral("Unsend"), row);
            unsend->setObjectName(QStringLiteral("unsendButton"));
            unsend->setFont(textFont(TextStyle::caption));
            connect(unsend, &QPushButton::clicked, this, [owner, message = line.message] {
                if (owner)
                    owner->passwords().unsend(message);
            });
            layout->addWidget(unsend, 0, Qt::AlignVCenter);
        }
        stack->addWidget(row);
    }

    auto* send = new PillButton(QString::fromStdString(model_.sendTitle), accent(), peopleDeepFill(), block);
    send->setSymbol(Symbol::lock);
    send->setObjectName(QStringLiteral("sendPasswordButton"));
    connect(send, &QPushButton::clicked, this, [owner, request = model_.request] {
        if (owner)
            owner->answers().sendPassword(request);
    });
    stack->addWidget(send, 0, Qt::AlignLeft);
    return block;
}

QMenu* RequestBlock::makeReplyMenu()
{
    auto* menu = new QMenu(&view_);
    menu->setObjectName(QStringLiteral("replyMenu"));
    QPointer<PeopleView> owner(&view_);
    const StoredMessage request = model_.request;
    for (const auto& text : quickReplies()) {
        QAction* action = menu->addAction(QString::fromStdString(text));
        // Sent at once, without a question.
        connect(action, &QAction::triggered, menu, [owner, request, text] {
            if (owner)
                owner->answers().sendReply(request, text);
        });
    }
    menu->addSeparator();
    QAction* write = menu->addAction(QStringLiteral("Write a Reply\u2026"));
    write->setObjectName(QStringLiteral("writeReply"));
    connect(write, &QAction::triggered, menu, [owner, request] {
        if (!owner)
            return;
        auto text = askForText("Reply to " + shownName(request.peerName), "", "", "Send", owner->prompts());
        if (text && owner)
            owner->answers().sendReply(request, *text);
    });
    shownMenu_ = menu;
    return menu;
}

QWidget* RequestBlock::makeActionRow()
{
    auto* holder = new QWidget(this);
    auto* row = new QHBoxLayout(holder);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);

    auto* reply = new QToolButton(holder);
    reply->setObjectName(QStringLiteral("replyButton"));
    reply->setText(QStringLiteral("Reply"));
    reply->setPopupMode(QToolButton::InstantPopup);
    reply->setToolButtonStyle(Qt::ToolButtonTextOnly);
    reply->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    reply->setMinimumWidth(reply->fontMetrics().horizontalAdvance(reply->text()) + 36);
    QMenu* menu = makeReplyMenu();
    menu->setParent(reply, menu->windowFlags());
    reply->setMenu(menu);
    row->addWidget(reply);

    auto* done = new QPushButton(QStringLiteral("Done"), holder);
    reply->setMinimumHeight(done->sizeHint().height());
    done->setObjectName(QStringLiteral("doneButton"));
    done->setToolTip(QString::fromStdString(model_.doneTooltip));
    done->setProperty("prominent", model_.opened);
    if (model_.opened) {
        done->setDefault(true);
        styleSmallFilledButton(*done, accent(), peopleDeepFill());
    }
    QPointer<PeopleView> owner(&view_);
    connect(done, &QPushButton::clicked, this, [owner, request = model_.request] {
        if (owner)
            owner->answers().markRequestDone(request);
    });
    row->addWidget(done);
    row->addStretch(1);
    return holder;
}

} // namespace wl
