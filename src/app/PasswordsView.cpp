#include "app/PasswordsView.h"

#include "app/ConcealedCopy.h"
#include "style/Widgets.h"
#include "style/Palette.h"
#include "mail/PasswordCenter.h"
#include "platform/ShownText.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QVBoxLayout>

#include <algorithm>

#include <cmath>
#include <set>

namespace wl {

namespace {

const QString kBullets = QString(10, QChar(0x2022));

std::string passwordTitle(const StoredMessage& message)
{
    return message.content.label ? shownText(*message.content.label, kShownTopicLength) : "Password";
}

bool isOnce(const StoredMessage& message)
{
    return message.content.lifetime == std::optional<std::string>("once");
}

} // namespace

std::string timeLeftText(Date end, Date now)
{
    double interval = std::trunc(end - now);
    long long n = interval < 0 ? 0 : static_cast<long long>(interval);
    if (n <= 59)
        return std::to_string(n) + " s";
    return std::to_string((n + 59) / 60) + " min";
}

// ---- ReceivedPasswordCard ----

ReceivedPasswordCard::ReceivedPasswordCard(PasswordCenter& center, const StoredMessage& message, Date now,
                                           TimerFactory copyTimers, QWidget* parent)
    : QWidget(parent), center_(&center), message_(message), now_(now), copyTimers_(std::move(copyTimers))
{
    setObjectName(QString::fromStdString("received." + message.id));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* card = new RoundedBox;
    card->setFill(passwordCardFill());
    card->setRadius(14);
    outer->addWidget(card);

    auto* stack = new QVBoxLayout(card);
    stack->setContentsMargins(14, 14, 14, 14);
    stack->setSpacing(12);

    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    auto* key = makeSymbolLabel(Symbol::keyFill, 18, systemYellow());
    key->setFixedWidth(28);
    header->addWidget(key, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    title_ = makeLabel({}, TextStyle::headline, {}, "cardTitle");
    from_ = makeLabel({}, TextStyle::caption, secondaryText(), "cardFrom");
    texts->addWidget(title_);
    texts->addWidget(from_);
    header->addLayout(texts, 1);
    stack->addLayout(header);

    auto* box = new RoundedBox;
    box->setFill(passwordBoxFill());
    box->setRadius(8);
    auto* boxLayout = new QHBoxLayout(box);
    boxLayout->setContentsMargins(10, 10, 10, 10);
    secret_ = new QLabel;
    secret_->setObjectName(QStringLiteral("passwordBox"));
    secret_->setTextFormat(Qt::PlainText);
    secret_->setFont(monospacedFont(TextStyle::title3));
    boxLayout->addWidget(secret_, 1);
    stack->addWidget(box);

    copiedNote_ = makeLabel({}, TextStyle::caption, systemGreen(), "copiedNote", true);
    problemLine_ = makeLabel({}, TextStyle::caption, systemOrange(), "cardProblem", true);
    stack->addWidget(copiedNote_);
    stack->addWidget(problemLine_);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    copyButton_ = new QPushButton(symbolIcon(Symbol::fingerprint, 16, peopleDeepFill()), QStringLiteral("Copy"));
    copyButton_->setObjectName(QStringLiteral("copyButton"));
    copyButton_->setMinimumWidth(90);
    copyButton_->setToolTip(QStringLiteral("Copy the password without showing it"));
    makeProminent(*copyButton_, accent());
    showButton_ = new QPushButton(QStringLiteral("Show"));
    showButton_->setObjectName(QStringLiteral("showButton"));
    buttons->addWidget(copyButton_);
    buttons->addWidget(showButton_);
    buttons->addStretch(1);
    stack->addLayout(buttons);

    // Return copies from the first card only (one default action per window).
    for (auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        shortcut->setEnabled(false);
        connect(shortcut, &QShortcut::activated, this, &ReceivedPasswordCard::copy);
        returnKeys_.push_back(shortcut);
    }

    connect(copyButton_, &QPushButton::clicked, this, &ReceivedPasswordCard::copy);
    connect(showButton_, &QPushButton::clicked, this, [this] {
        if (isRevealed())
            hideSecret();
        else
            showSecret();
    });
    redraw();
}

void ReceivedPasswordCard::setDefaultAction(bool isDefault)
{
    for (QShortcut* shortcut : returnKeys_)
        shortcut->setEnabled(isDefault);
}

bool ReceivedPasswordCard::isRevealed() const
{
    return revealed_ && revealedAt_ && now_ - *revealedAt_ < kShownFor;
}

void ReceivedPasswordCard::refresh(const StoredMessage& message, Date now)
{
    message_ = message;
    now_ = now;
    redraw();
}

std::string ReceivedPasswordCard::reason(const std::string& verb) const
{
    // Without a label: "copy the password from Anna" (one space, not two).
    const auto& label = message_.content.label;
    std::string what = label && !label->empty() ? *label + " password" : "password";
    return verb + " the " + what + " from " + shownName(message_.peerName);
}

void ReceivedPasswordCard::copy()
{
    if (!center_)
        return;
    const Date current = center_->messenger().now();
    if (isRevealed() && revealed_) {
        // The secret on screen may have stopped working since it was shown.
        if (center_->expiry(message_) <= current) {
            problem_ = "It has expired.";
            revealed_.reset();
            redraw();
            return;
        }
        copyConcealed(*revealed_, copyTimers_);
        copied_ = current;
        redraw();
        return;
    }
    QPointer<ReceivedPasswordCard> self(this);
    center_->reveal(message_, reason("copy"), [self](std::optional<std::string> secret) {
        if (!self || !self->center_)
            return;
        const Date current = self->center_->messenger().now();
        if (secret) {
            self->problem_.reset();
            copyConcealed(*secret, self->copyTimers_);
            self->copied_ = current;
        } else {
            self->problem_ = self->center_->expiry(self->message_) > current ? "Not copied." : "It has expired.";
        }
        self->redraw();
    });
}

void ReceivedPasswordCard::showSecret()
{
    if (!center_)
        return;
    QPointer<ReceivedPasswordCard> self(this);
    center_->reveal(message_, reason("show"), [self](std::optional<std::string> secret) {
        if (!self || !self->center_)
            return;
        const Date current = self->center_->messenger().now();
        if (secret) {
            self->problem_.reset();
            self->revealed_ = std::move(secret);
            self->revealedAt_ = current;
        } else if (self->center_->expiry(self->message_) > current) {
            self->problem_.reset();
        } else {
            self->problem_ = "It has expired.";
        }
        self->redraw();
    });
}

void ReceivedPasswordCard::hideSecret()
{
    revealed_.reset();
    redraw();
}

void ReceivedPasswordCard::redraw()
{
    // The secret leaves the card's state as soon as it stops showing.
    if (revealed_ && !isRevealed())
        revealed_.reset();

    title_->setText(QString::fromStdString(passwordTitle(message_)));
    const std::string marker = isOnce(message_) && !message_.openedAt ? "works once \u00b7 " : "";
    const Date expiry = center_ ? center_->expiry(message_) : now_;
    from_->setText(QString::fromStdString("From " + shownName(message_.peerName) + " \u00b7 " + marker + "gone in " +
                                          timeLeftText(expiry, now_)));

    if (isRevealed()) {
        secret_->setText(QString::fromStdString(*revealed_));
        secret_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        setLabelColour(*secret_, {});
        secret_->setAccessibleName(QString::fromStdString("Password: " + *revealed_));
        showButton_->setText(QStringLiteral("Hide"));
        showButton_->setToolTip({});
    } else {
        secret_->setText(kBullets);
        secret_->setTextInteractionFlags(Qt::NoTextInteraction);
        setLabelColour(*secret_, secondaryText());
        secret_->setAccessibleName(QStringLiteral("Password hidden"));
        showButton_->setText(QStringLiteral("Show"));
        showButton_->setToolTip(QStringLiteral("Show the password for 30 seconds"));
    }

    const bool noteShown = copied_ && now_ - *copied_ < kCopiedNoteFor;
    if (noteShown) {
        // "in 59 s" is kept on one line: a wrapped note never ends in a unit alone.
        QString left = QString::fromStdString("in " + timeLeftText(*copied_ + kCopiedNoteFor, now_));
        left.replace(QLatin1Char(' '), QChar::Nbsp);
        copiedNote_->setText(QStringLiteral("Copied. Paste it where it's needed; the clipboard clears ") + left +
                             QLatin1Char('.'));
    }
    copiedNote_->setVisible(noteShown);
    problemLine_->setText(problem_ ? QString::fromStdString(*problem_) : QString());
    problemLine_->setVisible(problem_.has_value());
}

// ---- SentPasswordRow ----

SentPasswordRow::SentPasswordRow(PasswordCenter& center, const StoredMessage& message, Date now, QWidget* parent)
    : QWidget(parent), center_(&center), message_(message), now_(now)
{
    setObjectName(QString::fromStdString("sent." + message.id));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* box = new RoundedBox;
    box->setFill(passwordCardFill());
    box->setRadius(12);
    outer->addWidget(box);
    layout_ = new QHBoxLayout(box);
    layout_->setContentsMargins(14, 10, 14, 10);
    layout_->setSpacing(10);
    texts_ = new QVBoxLayout;
    texts_->setSpacing(2);
    title_ = makeLabel({}, TextStyle::body, {}, "rowTitle");
    status_ = makeLabel({}, TextStyle::caption, secondaryText(), "rowStatus");
    texts_->addWidget(title_);
    texts_->addWidget(status_);
    layout_->addLayout(texts_, 1);
    refresh(message, now);
}

void SentPasswordRow::refresh(const StoredMessage& message, Date now)
{
    message_ = message;
    now_ = now;
    if (!center_)
        return;
    title_->setText(QString::fromStdString(passwordTitle(message_) + " \u00b7 to " + shownName(message_.peerName)));

    // The centre's state decides both the text and the button.
    const SentPasswordState state = center_->status(message_, now_);
    std::string status;
    switch (state) {
    case SentPasswordState::unsent: status = "Unsent"; break;
    case SentPasswordState::expired: status = "Expired"; break;
    case SentPasswordState::opened:
    case SentPasswordState::sent:
    case SentPasswordState::delivered:
        if (state == SentPasswordState::opened && isOnce(message_)) {
            status = "Opened";
            break;
        }
        status = std::string(state == SentPasswordState::sent            ? "Sent"
                                 : state == SentPasswordState::delivered ? "Delivered"
                                                                         : "Opened") +
            " \u00b7 works for " + timeLeftText(message_.content.expiresAt.value_or(now_), now_) + " more";
        break;
    }
    status_->setText(QString::fromStdString(status));

    if (problem_ && !problemLine_) {
        problemLine_ = makeLabel({}, TextStyle::caption, systemOrange(), "rowProblem", true);
        texts_->addWidget(problemLine_);
        problemLine_->show();
    } else if (!problem_ && problemLine_) {
        texts_->removeWidget(problemLine_);
        discardWidget(problemLine_);
        problemLine_ = nullptr;
    }
    if (problemLine_)
        problemLine_->setText(QString::fromStdString(*problem_));

    const bool canUnsend = state == SentPasswordState::sent || state == SentPasswordState::delivered ||
        (state == SentPasswordState::opened && !isOnce(message_));
    if (canUnsend && !unsendButton_) {
        unsendButton_ = new QPushButton(QStringLiteral("Unsend"));
        unsendButton_->setObjectName(QStringLiteral("unsendButton"));
        unsendButton_->setToolTip(QStringLiteral("Remove it from their Mac"));
        connect(unsendButton_, &QPushButton::clicked, this, &SentPasswordRow::unsend);
        layout_->addWidget(unsendButton_);
        unsendButton_->show();
    } else if (!canUnsend && unsendButton_) {
        layout_->removeWidget(unsendButton_);
        discardWidget(unsendButton_);
        unsendButton_ = nullptr;
    }
}

void SentPasswordRow::unsend()
{
    if (!center_)
        return;
    if (problem_) {
        problem_.reset();
        refresh(message_, now_);
    }
    QPointer<SentPasswordRow> self(this);
    center_->unsend(message_, [self](std::optional<std::string> problem) {
        if (!self)
            return;
        if (problem)
            self->problem_ = "Not unsent. " + *problem;
        else
            self->problem_.reset();
        self->refresh(self->message_, self->now_);
    });
}

// ---- PasswordsView ----

PasswordsView::PasswordsView(PasswordCenter& center, QWidget* parent)
    : QWidget(parent), center_(&center), now_(center.messenger().now())
{
    setObjectName(QStringLiteral("passwordsView"));
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea;
    scroll_->setObjectName(QStringLiteral("passwordsScroll"));
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    scroll_->setWidgetResizable(true);
    content_ = new QWidget;
    content_->setObjectName(QStringLiteral("passwordsList"));
    content_->setFixedWidth(kWidth);
    list_ = new QVBoxLayout(content_);
    list_->setContentsMargins(18, 18, 18, 18);
    list_->setSpacing(14);
    list_->setAlignment(Qt::AlignTop);
    scroll_->setWidget(content_);
    outer->addWidget(scroll_);

    clock_.setInterval(1000);
    connect(&clock_, &QTimer::timeout, this, &PasswordsView::tick);
    connect(&center, &PasswordCenter::changed, this, &PasswordsView::redraw);
    connect(&center.messenger(), &Messenger::changed, this, &PasswordsView::redraw);
    redraw();
}

ReceivedPasswordCard* PasswordsView::card(const std::string& id) const
{
    auto it = cards_.find(id);
    return it == cards_.end() ? nullptr : it->second.data();
}

SentPasswordRow* PasswordsView::row(const std::string& id) const
{
    auto it = rows_.find(id);
    return it == rows_.end() ? nullptr : it->second.data();
}

void PasswordsView::setCopyTimers(TimerFactory timers)
{
    copyTimers_ = std::move(timers);
    for (const auto& [id, card] : cards_)
        if (card)
            card->setCopyTimers(copyTimers_);
}

void PasswordsView::tick()
{
    if (center_)
        now_ = center_->messenger().now();
    for (const auto& [id, card] : cards_)
        if (card)
            card->tick(now_);
    for (const auto& [id, row] : rows_)
        if (row)
            row->tick(now_);
}

void PasswordsView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    tick();
    clock_.start();
}

void PasswordsView::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    clock_.stop();
}

QSize PasswordsView::sizeHint() const
{
    const int contentHeight = content_->layout()->sizeHint().height();
    const int height = std::clamp(contentHeight, kMinimumHeight, kMaximumHeight);
    const int bar = contentHeight > height ? scroll_->verticalScrollBar()->sizeHint().width() : 0;
    return {kWidth + bar, height};
}

void PasswordsView::redraw()
{
    if (!center_)
        return;
    const auto received = center_->received();
    const auto sent = center_->sent();

    // Cards and rows live as long as their password is listed, by id: a card keeps what
    // it shows, a row the button someone may be pressing.
    auto dropUnlisted = [this](auto& widgets, const std::vector<StoredMessage>& listed) {
        std::set<std::string> keep;
        for (const auto& message : listed)
            keep.insert(message.id);
        for (auto it = widgets.begin(); it != widgets.end();) {
            if (keep.count(it->first)) {
                ++it;
                continue;
            }
            if (it->second) {
                list_->removeWidget(it->second);
                discardWidget(it->second);
            }
            it = widgets.erase(it);
        }
    };
    dropUnlisted(cards_, received);
    dropUnlisted(rows_, sent);

    // The empty text and the header are there only while they are shown.
    auto keepIf = [this](QPointer<QLabel>& label, bool wanted, auto make) {
        if (wanted && !label) {
            label = make();
        } else if (!wanted && label) {
            list_->removeWidget(label);
            discardWidget(label);
            label = nullptr;
        }
    };
    keepIf(emptyText_, received.empty() && sent.empty(), [] {
        auto* empty =
            makeLabel(QStringLiteral("No passwords right now."), TextStyle::body, secondaryText(), "emptyText");
        empty->setAlignment(Qt::AlignCenter);
        empty->setContentsMargins(0, 24, 0, 24);
        return empty;
    });
    keepIf(sentHeader_, !sent.empty(), [] {
        auto* header = makeLabel(QStringLiteral("SENT"), TextStyle::caption, secondaryText(), "sentHeader");
        header->setFont(textFont(TextStyle::caption, QFont::DemiBold));
        return header;
    });

    std::vector<QWidget*> shown;
    if (emptyText_)
        shown.push_back(emptyText_);
    bool first = true;
    for (const auto& message : received) {
        auto& card = cards_[message.id];
        if (!card)
            card = new ReceivedPasswordCard(*center_, message, now_, copyTimers_);
        else
            card->refresh(message, now_);
        card->setDefaultAction(first);
        first = false;
        shown.push_back(card);
    }
    if (sentHeader_)
        shown.push_back(sentHeader_);
    for (const auto& message : sent) {
        auto& row = rows_[message.id];
        if (!row)
            row = new SentPasswordRow(*center_, message, now_);
        else
            row->refresh(message, now_);
        shown.push_back(row);
    }

    // The list is laid out again only when what it holds or its order changed.
    std::vector<QWidget*> laidOut;
    for (int i = 0; i < list_->count(); ++i)
        if (QWidget* widget = list_->itemAt(i)->widget())
            laidOut.push_back(widget);
    if (laidOut != shown) {
        for (QWidget* widget : laidOut)
            list_->removeWidget(widget);
        for (QWidget* widget : shown) {
            list_->addWidget(widget);
            widget->show();
        }
    }
    list_->activate();
    content_->adjustSize();
    updateGeometry();
    if (QWidget* window = this->window(); window && window != this && window->layout())
        window->layout()->activate();
}

} // namespace wl
