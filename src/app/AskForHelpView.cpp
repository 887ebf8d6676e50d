#include "app/AskForHelpView.h"

#include "app/DateText.h"
#include "app/PictureWindow.h"
#include "style/Widgets.h"
#include "style/Palette.h"
#include "host/HelpRequestCenter.h"
#include "host/HostController.h"
#include "host/PairedHelpers.h"
#include "mail/Messenger.h"
#include "platform/ShownText.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextLayout>
#include <QtMath>
#include <QVBoxLayout>

#include <algorithm>

namespace wl {

// A topic button: the title on a rounded chip, outlined in the accent while chosen.
class TopicChip final : public QAbstractButton {
public:
    TopicChip(HelpTopic topic, QWidget* parent = nullptr) : QAbstractButton(parent), topic_(topic)
    {
        setText(QString::fromStdString(rawValue(topic)));
        setCheckable(true);
        setFont(textFont(TextStyle::callout, QFont::DemiBold));
        setMinimumHeight(40);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setCursor(Qt::PointingHandCursor);
    }
    HelpTopic topic() const { return topic_; }
    QSize sizeHint() const override { return {160, 40}; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const bool chosen = isChecked();
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 10, 10);
        painter.fillPath(path, chosen ? accentFill() : cardFill());
        if (chosen) {
            painter.setPen(QPen(accent(), 1.5));
            painter.drawPath(path);
        }
        painter.setPen(chosen ? accent() : darkPalette().color(QPalette::WindowText));
        painter.setFont(font());
        painter.drawText(rect(), Qt::AlignCenter, text());
    }

private:
    HelpTopic topic_;
};

namespace {

// The note: a field of 2 to 4 lines that keeps Return for its own line breaks.
class NoteField final : public QPlainTextEdit {
public:
    NoteField()
    {
        setObjectName(QStringLiteral("noteField"));
        setPlaceholderText(QStringLiteral("For example: the printer says it's offline again"));
        setTabChangesFocus(true);
        setFont(textFont(TextStyle::body));
        styleNoteField(*this);
        connect(document(), &QTextDocument::contentsChanged, this, [this] { fit(); });
        connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
                [this] { fit(); });
        fit();
    }

protected:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::ShortcutOverride) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                event->accept();
                return true;
            }
        }
        return QPlainTextEdit::event(event);
    }

private:
    void fit()
    {
        // Lines as laid out at the field's width, wrapped ones included.
        int lines = 0;
        for (QTextBlock block = document()->begin(); block.isValid(); block = block.next())
            lines += block.layout() && block.layout()->lineCount() > 0 ? block.layout()->lineCount() : 1;
        lines = std::clamp(lines, 2, 4);
        const int line = QFontMetrics(font()).lineSpacing();
        const QMargins margins = contentsMargins();
        setFixedHeight(lines * line + 2 * qCeil(document()->documentMargin()) + margins.top() + margins.bottom() +
                       2 * frameWidth() + 8);
    }
};

// "<heading> (optional)": the heading in the headline style, the rest secondary.
QWidget* headingWithOptional(const QString& heading, const char* objectName)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(makeLabel(heading, TextStyle::headline, {}, objectName));
    layout->addWidget(makeLabel(QStringLiteral("(optional)"), TextStyle::body, secondaryText()));
    layout->addStretch(1);
    return row;
}

// A thumbnail cut to a rounded rectangle.
QPixmap thumbnail(const QImage& image, QSize size, qreal ratio)
{
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(QPointF(0, 0), QSizeF(size)), 8, 8);
    painter.setClipPath(clip);
    const QImage filled = image.scaled(size * ratio, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    const QPointF origin((size.width() * ratio - filled.width()) / 2 / ratio,
                         (size.height() * ratio - filled.height()) / 2 / ratio);
    QImage drawn = filled;
    drawn.setDevicePixelRatio(ratio);
    painter.drawImage(origin, drawn);
    return pixmap;
}

// The text as a wrapping label shows it whole at any width: a run of more characters
// than kLongRun without a space (an address, a code) may also break between any two of
// its characters. Without that, one such run makes the label as wide as the run, and
// what does not fit the window is cut off at its side.
constexpr int kLongRun = 16;

QString wrappable(const QString& text)
{
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, text);
    QString out;
    out.reserve(text.size());
    bool inRun = false;
    bool longRun = false;
    int start = 0;
    for (int end = graphemes.toNextBoundary(); end != -1; start = end, end = graphemes.toNextBoundary()) {
        const QStringView grapheme = QStringView(text).mid(start, end - start);
        if (grapheme.front().isSpace()) {
            inRun = false;
        } else if (!inRun) {
            inRun = true;
            int runEnd = start;
            while (runEnd < text.size() && !text.at(runEnd).isSpace())
                ++runEnd;
            longRun = runEnd - start > kLongRun;
        } else if (longRun) {
            out += QChar(0x200B); // zero width space: a place to break
        }
        out += grapheme;
    }
    return out;
}

QString quoted(const std::string& text)
{
    return QStringLiteral("\u201c%1\u201d").arg(QString::fromStdString(text));
}

RoundedBox* card(const QColor& fill, const char* objectName = nullptr)
{
    auto* box = new RoundedBox;
    box->setFill(fill);
    box->setRadius(12);
    if (objectName)
        box->setObjectName(QString::fromLatin1(objectName));
    return box;
}

// A symbol and a text side by side.
QWidget* symbolLine(Symbol symbol, const QString& text, TextStyle style, const QColor& colour, const char* objectName,
                    bool wraps)
{
    auto* row = new QWidget;
    row->setObjectName(QString::fromLatin1(objectName));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    const int size = textFont(style).pixelSize();
    layout->addWidget(makeSymbolLabel(symbol, size, colour), 0, Qt::AlignTop);
    auto* label = makeLabel(text, style, colour, "text", wraps);
    layout->addWidget(label, 1);
    return row;
}

} // namespace

AskForHelpView::AskForHelpView(HelpRequestCenter& center, std::function<void()> onClose, QWidget* parent)
    : QWidget(parent), center_(&center), messenger_(&center.messenger()), onClose_(std::move(onClose))
{
    setObjectName(QStringLiteral("askForHelpView"));
    setMaximumWidth(kWidth);
    setMinimumHeight(kMinimumHeight);
    setAcceptDrops(true);
    faces_ = new QVBoxLayout(this);
    faces_->setContentsMargins(22, 22, 22, 22);
    faces_->setSpacing(0);

    // ---- the compose form ----
    compose_ = new QWidget;
    compose_->setObjectName(QStringLiteral("composeForm"));
    auto* form = new QVBoxLayout(compose_);
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(16);

    auto* header = new QVBoxLayout;
    header->setSpacing(4);
    composeTitle_ = makeLabel({}, TextStyle::title2, {}, "composeTitle", true);
    header->addWidget(composeTitle_);
    header->addWidget(makeLabel(QStringLiteral("They'll get a notification on their Mac."), TextStyle::body,
                                secondaryText(), "composeSubtitle"));
    form->addLayout(header);

    auto* topics = new QVBoxLayout;
    topics->setSpacing(8);
    topics->addWidget(makeLabel(QStringLiteral("What's it about?"), TextStyle::headline, {}, "topicHeading"));
    auto* grid = new QGridLayout;
    grid->setVerticalSpacing(8);
    grid->setHorizontalSpacing(8);
    int index = 0;
    for (HelpTopic topic : kAllHelpTopics) {
        auto* chip = new TopicChip(topic);
        static const char* const names[] = {"printer", "email", "internet", "password", "looksWrong", "other"};
        chip->setObjectName(QStringLiteral("topic.") + QLatin1String(names[index]));
        connect(chip, &QAbstractButton::clicked, this, [this, topic] {
            if (topic_ == topic)
                topic_.reset();
            else
                topic_ = topic;
            redrawCompose();
        });
        grid->addWidget(chip, index / 2, index % 2);
        chips_.push_back(chip);
        ++index;
    }
    topics->addLayout(grid);
    form->addLayout(topics);

    auto* noteSection = new QVBoxLayout;
    noteSection->setSpacing(8);
    noteSection->addWidget(headingWithOptional(QStringLiteral("Anything else? "), "noteHeading"));
    note_ = new NoteField;
    noteSection->addWidget(note_);
    lockWarning_ = new QWidget;
    lockWarning_->setObjectName(QStringLiteral("lockWarning"));
    auto* lockLayout = new QHBoxLayout(lockWarning_);
    lockLayout->setContentsMargins(0, 0, 0, 0);
    lockLayout->setSpacing(6);
    lockLayout->addWidget(makeSymbolLabel(Symbol::lockFill, 11, systemOrange()), 0, Qt::AlignTop);
    lockWarningText_ = makeLabel({}, TextStyle::caption, systemOrange(), "lockWarningText", true);
    lockLayout->addWidget(lockWarningText_, 1);
    noteSection->addWidget(lockWarning_);
    form->addLayout(noteSection);

    pictures_ = new RoundedBox;
    pictures_->setObjectName(QStringLiteral("picturesSection"));
    pictures_->setRadius(12);
    auto* picturesLayout = new QVBoxLayout(pictures_);
    picturesLayout->setSpacing(8);
    auto* picturesHeader = new QWidget;
    auto* picturesHeaderLayout = new QHBoxLayout(picturesHeader);
    picturesHeaderLayout->setContentsMargins(0, 0, 0, 0);
    picturesHeaderLayout->setSpacing(0);
    picturesHeading_ = makeLabel({}, TextStyle::headline, {}, "picturesHeading");
    picturesHeaderLayout->addWidget(picturesHeading_);
    picturesHeaderLayout->addWidget(makeLabel(QStringLiteral("(optional)"), TextStyle::body, secondaryText()));
    picturesHeaderLayout->addStretch(1);
    picturesLayout->addWidget(picturesHeader);
    pictureRow_ = new QHBoxLayout;
    pictureRow_->setSpacing(8);
    pictureRow_->addStretch(1);
    picturesLayout->addLayout(pictureRow_);
    picturesLayout->addWidget(makeLabel(
        QStringLiteral("Or drag pictures here. Nothing is sent until you press Send; remove anything private."),
        TextStyle::caption, secondaryText(), "picturesHint", true));
    form->addWidget(pictures_);

    problem_ = makeLabel({}, TextStyle::callout, systemRed(), "problemLine", true);
    form->addWidget(problem_);

    auto* buttons = new QHBoxLayout;
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    makeLarge(*cancel);
    sendButton_ = new QPushButton;
    sendButton_->setObjectName(QStringLiteral("sendButton"));
    sendButton_->setMinimumWidth(140);
    makeLarge(*sendButton_);
    makeProminent(*sendButton_, accent());
    spinner_ = new QProgressBar(sendButton_);
    spinner_->setObjectName(QStringLiteral("sendingIndicator"));
    spinner_->setRange(0, 0);
    spinner_->setTextVisible(false);
    spinner_->setFixedSize(60, 6);
    buttons->addWidget(cancel);
    buttons->addStretch(1);
    buttons->addWidget(sendButton_);
    form->addLayout(buttons);
    faces_->addWidget(compose_);
    // Whatever height the window has beyond the face's goes below it. (An alignment of the
    // layout instead would size the face by its size hint, shorter than its wrapped texts.)
    faces_->addStretch(1);

    connect(cancel, &QPushButton::clicked, this, [this] {
        if (onClose_)
            onClose_();
    });
    connect(sendButton_, &QPushButton::clicked, this, &AskForHelpView::send);

    for (auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, &AskForHelpView::returnPressed);
    }
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &AskForHelpView::escapePressed);
    // The note field takes its own paste first.
    auto* pasteKey = new QShortcut(QKeySequence::Paste, this);
    pasteKey->setContext(Qt::WindowShortcut);
    connect(pasteKey, &QShortcut::activated, this, &AskForHelpView::paste);

    connect(&center, &HelpRequestCenter::changed, this, &AskForHelpView::redraw);
    connect(&center.messenger(), &Messenger::changed, this, &AskForHelpView::redraw);
    redraw();
}

QSize AskForHelpView::sizeHint() const
{
    return {kWidth, std::max(heightForWidth(kWidth), minimumHeight())};
}

void AskForHelpView::send()
{
    if (!center_ || center_->sending())
        return;
    center_->send(topic_, note_->toPlainText().toStdString());
}

void AskForHelpView::paste()
{
    if (!center_ || center_->active())
        return;
    if (const QMimeData* data = QApplication::clipboard()->mimeData(); data && (data->hasUrls() || data->hasImage()))
        center_->addDropped(*data);
}

void AskForHelpView::returnPressed()
{
    if (!center_)
        return;
    if (center_->active()) {
        if (onClose_)
            onClose_();
    } else if (sendButton_->isEnabled()) {
        send();
    }
}

void AskForHelpView::escapePressed()
{
    if (center_ && !center_->active() && onClose_)
        onClose_();
}

namespace {
bool acceptable(const QMimeData* data)
{
    if (!data)
        return false;
    if (data->hasImage())
        return true;
    if (data->hasUrls())
        for (const QUrl& url : data->urls())
            if (url.isLocalFile())
                return true;
    return false;
}
} // namespace

void AskForHelpView::dragEnterEvent(QDragEnterEvent* event)
{
    if (center_ && !center_->active() && acceptable(event->mimeData())) {
        event->acceptProposedAction();
        setDropTargeted(true);
    } else {
        event->ignore();
    }
}

void AskForHelpView::dragLeaveEvent(QDragLeaveEvent* event)
{
    setDropTargeted(false);
    QWidget::dragLeaveEvent(event);
}

void AskForHelpView::dropEvent(QDropEvent* event)
{
    setDropTargeted(false);
    if (center_ && !center_->active() && acceptable(event->mimeData()) && center_->addDropped(*event->mimeData()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void AskForHelpView::setDropTargeted(bool targeted)
{
    if (dropTargeted_ == targeted)
        return;
    dropTargeted_ = targeted;
    redrawCompose();
}

void AskForHelpView::redraw()
{
    if (!center_)
        return;
    // The compose form keeps its minimum height; the sent state is as high as its content.
    setMinimumHeight(center_->active() ? 0 : kMinimumHeight);
    if (center_->active()) {
        compose_->hide();
        rebuildSent();
    } else {
        if (sent_) {
            faces_->removeWidget(sent_);
            discardWidget(sent_);
            sent_ = nullptr;
        }
        compose_->show();
        redrawCompose();
    }
    // Laid out now, so that the window around it follows before anything else happens.
    QCoreApplication::sendPostedEvents(this, QEvent::LayoutRequest);
}

void AskForHelpView::redrawCompose()
{
    if (!center_)
        return;
    const QString names = QString::fromStdString(center_->helperNamesText());
    composeTitle_->setText(QStringLiteral("Ask %1 for help").arg(names));
    for (TopicChip* chip : chips_) {
        const bool chosen = topic_ == chip->topic();
        chip->setChecked(chosen);
        chip->setAccessibleDescription(chosen ? QStringLiteral("selected") : QString());
        chip->update();
    }
    lockWarningText_->setText(QStringLiteral("Don't type passwords here. %1 can send one securely later.").arg(names));
    lockWarning_->setVisible(topic_ == HelpTopic::password);
    picturesHeading_->setText(QStringLiteral("Show %1 ").arg(names));
    redrawPictures();

    const int margin = dropTargeted_ ? 8 : 0;
    pictures_->layout()->setContentsMargins(margin, margin, margin, margin);
    pictures_->setOutline(accent(), dropTargeted_ ? 2 : 0);

    const auto& problem = center_->problem();
    problem_->setText(problem ? QString::fromStdString(*problem) : QString());
    problem_->setVisible(problem.has_value());

    const bool sending = center_->sending();
    sendButton_->setEnabled(!sending);
    sendButton_->setText(sending ? QString() : QStringLiteral("Send to %1").arg(names));
    sendButton_->setIcon(sending ? QIcon() : symbolIcon(Symbol::paperplaneFill, 14, peopleDeepFill()));
    if (sending) {
        sendButton_->setFixedWidth(140);
        spinner_->move((140 - spinner_->width()) / 2, (sendButton_->height() - spinner_->height()) / 2);
    } else {
        sendButton_->setMinimumWidth(140);
        sendButton_->setMaximumWidth(QWIDGETSIZE_MAX);
    }
    spinner_->setVisible(sending);
}

void AskForHelpView::redrawPictures()
{
    for (QWidget* item : pictureItems_) {
        pictureRow_->removeWidget(item);
        discardWidget(item);
    }
    pictureItems_.clear();
    const auto& draft = center_->draft();
    int position = 0;
    auto insert = [&](QWidget* item) {
        pictureRow_->insertWidget(position++, item);
        item->show();
        pictureItems_.push_back(item);
    };
    const QSize size(84, 58);
    int index = 0;
    for (const auto& picture : draft) {
        auto* item = new QWidget;
        item->setObjectName(QStringLiteral("picture.%1").arg(index));
        item->setFixedSize(size);
        // Decoded within the picture window's limits; data that makes no image shows
        // only its remove button.
        const QImage image = PictureWindowController::decode(picture.data);
        if (!image.isNull()) {
            auto* thumb = new QLabel(item);
            thumb->setObjectName(QStringLiteral("thumbnail"));
            thumb->setFixedSize(size);
            thumb->setPixmap(thumbnail(image, size, devicePixelRatioF()));
            thumb->setAccessibleName(QString::fromStdString(picture.name));
        }
        auto* remove = new QPushButton(item);
        remove->setObjectName(QStringLiteral("removePicture.%1").arg(index));
        makeBorderless(*remove);
        remove->setIcon(symbolIcon(Symbol::xmarkCircleFill, 18, Qt::white));
        remove->setIconSize(QSize(18, 18));
        remove->setFixedSize(24, 24);
        remove->move(size.width() - 24 - 1, 1);
        remove->setAccessibleName(QString::fromStdString("Remove " + picture.name));
        remove->setToolTip(remove->accessibleName());
        QPointer<HelpRequestCenter> center(center_);
        connect(remove, &QPushButton::clicked, this, [center, picture] {
            if (center)
                center->removePicture(picture);
        });
        insert(item);
        ++index;
    }
    if (draft.size() < HelpRequestCenter::kMaxPictures) {
        auto tile = [&](Symbol symbol, const QString& title, const char* name) {
            auto* button = new QPushButton;
            button->setObjectName(QString::fromLatin1(name));
            button->setFixedSize(size);
            button->setFlat(true);
            styleFrameless(*button);
            auto* box = new RoundedBox(button);
            box->setRadius(8);
            box->setOutline(secondaryText(), 1.5, true);
            box->setFixedSize(size);
            box->setAttribute(Qt::WA_TransparentForMouseEvents);
            auto* layout = new QVBoxLayout(box);
            layout->setContentsMargins(0, 6, 0, 6);
            layout->setSpacing(3);
            layout->addWidget(makeSymbolLabel(symbol, 20, darkPalette().color(QPalette::WindowText)), 0,
                              Qt::AlignHCenter);
            auto* label = makeLabel(title, TextStyle::caption, darkPalette().color(QPalette::WindowText));
            label->setFont(textFont(TextStyle::caption, QFont::DemiBold));
            label->setAlignment(Qt::AlignHCenter);
            layout->addWidget(label);
            button->setAccessibleName(title);
            insert(button);
            return button;
        };
        QPointer<HelpRequestCenter> center(center_);
        connect(tile(Symbol::display, QStringLiteral("Screenshot"), "screenshotTile"), &QPushButton::clicked, this,
                [center] {
                    if (center)
                        center->takeScreenshot();
                });
        connect(tile(Symbol::folder, QStringLiteral("Choose\u2026"), "chooseTile"), &QPushButton::clicked, this,
                [center] {
                    if (center)
                        center->choosePictures();
                });
    }
}

void AskForHelpView::rebuildSent()
{
    if (sent_) {
        faces_->removeWidget(sent_);
        discardWidget(sent_);
    }
    const auto& active = *center_->active();
    sent_ = new QWidget;
    sent_->setObjectName(QStringLiteral("sentState"));
    auto* stack = new QVBoxLayout(sent_);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(16);

    // The helpers it went to, by first word, joined with " and " only.
    QString names;
    for (const auto& name : active.helperNames) {
        if (!names.isEmpty())
            names += QStringLiteral(" and ");
        names += QString::fromStdString(PairedHelpers::firstWord(name));
    }

    auto* header = new QVBoxLayout;
    header->setSpacing(8);
    header->addWidget(makeSymbolLabel(Symbol::checkmarkCircleFill, 44, accent()), 0, Qt::AlignHCenter);
    auto* title = makeLabel(QStringLiteral("Sent to %1").arg(names), TextStyle::title2, {}, "sentTitle", true);
    title->setAlignment(Qt::AlignHCenter);
    header->addWidget(title);
    auto* when = makeLabel(shortTime(active.sentAt) + QStringLiteral(" \u00b7 you can keep using your Mac"),
                           TextStyle::body, secondaryText(), "sentTime");
    when->setAlignment(Qt::AlignHCenter);
    header->addWidget(when);
    stack->addLayout(header);

    auto* asked = card(cardFill(), "askedCard");
    auto* askedLayout = new QVBoxLayout(asked);
    askedLayout->setContentsMargins(14, 14, 14, 14);
    askedLayout->setSpacing(6);
    auto* askedCaption =
        makeLabel(QStringLiteral("YOU ASKED ABOUT"), TextStyle::caption, secondaryText(), "askedCaption");
    askedCaption->setFont(textFont(TextStyle::caption, QFont::DemiBold));
    askedLayout->addWidget(askedCaption);
    askedLayout->addWidget(makeLabel(wrappable(QString::fromStdString(active.topic.value_or("Help with your Mac"))),
                                     TextStyle::headline, {}, "askedTopic", true));
    if (active.note)
        askedLayout->addWidget(
            makeLabel(wrappable(quoted(*active.note)), TextStyle::body, secondaryText(), "askedNote", true));
    if (active.attachments > 0)
        askedLayout->addWidget(
            symbolLine(Symbol::photoOnRectangle,
                       QStringLiteral("%1 %2 \u00b7 sent straight to them when they look")
                           .arg(active.attachments)
                           .arg(active.attachments == 1 ? QStringLiteral("picture") : QStringLiteral("pictures")),
                       TextStyle::caption, secondaryText(), "askedPictures", true));
    stack->addWidget(asked);

    const auto passwordReplies = center_->passwordReplies();
    const auto replies = center_->replies();
    for (const auto& message : passwordReplies) {
        auto* reply = card(accentFill());
        reply->setObjectName(QString::fromStdString("passwordReply." + message.id));
        auto* layout = new QHBoxLayout(reply);
        layout->setContentsMargins(14, 14, 14, 14);
        layout->setSpacing(12);
        layout->addWidget(makeSymbolLabel(Symbol::lockShieldFill, 22, accent()));
        auto* texts = new QVBoxLayout;
        texts->setSpacing(2);
        texts->addWidget(makeLabel(
            wrappable(QString::fromStdString(shownName(message.peerName) + " sent the password for " +
                                             shownText(message.content.label.value_or("you"), kShownTopicLength))),
            TextStyle::headline, {}, "passwordReplyTitle", true));
        texts->addWidget(makeLabel(message.sealed ? QStringLiteral("Locked so only this Mac can open it")
                                                  : QStringLiteral("Used or expired"),
                                   TextStyle::caption, secondaryText(), "passwordReplyState"));
        layout->addLayout(texts, 1);
        if (message.sealed) {
            auto* open = new QPushButton(QStringLiteral("Open"));
            open->setObjectName(QStringLiteral("openButton"));
            makeProminent(*open, accent());
            QPointer<HelpRequestCenter> center(center_);
            connect(open, &QPushButton::clicked, this, [center] {
                if (center && center->onShowPasswords)
                    center->onShowPasswords();
            });
            layout->addWidget(open);
        }
        stack->addWidget(reply);
    }
    if (!replies.empty() || !passwordReplies.empty()) {
        for (const auto& message : replies) {
            auto* reply = card(accentFill());
            reply->setObjectName(QString::fromStdString("reply." + message.id));
            auto* layout = new QVBoxLayout(reply);
            layout->setContentsMargins(14, 14, 14, 14);
            layout->setSpacing(2);
            layout->addWidget(makeLabel(
                wrappable(QString::fromStdString(shownName(message.peerName) + ": ") +
                          quoted(shownText(message.content.text.value_or(""), kShownNoteLength, LineBreaks::keep))),
                TextStyle::headline, {}, "replyText", true));
            layout->addWidget(makeLabel(shortTime(message.at), TextStyle::caption, secondaryText(), "replyTime"));
            stack->addWidget(reply);
        }
    } else {
        auto* delivery = symbolLine(Symbol::circleFill, QStringLiteral("Delivered \u00b7 waiting for %1").arg(names),
                                    TextStyle::callout, secondaryText(), "deliveryLine", false);
        delivery->layout()->setContentsMargins(4, 0, 4, 0);
        stack->addWidget(delivery);
    }
    stack->addWidget(symbolLine(Symbol::checkmarkShield,
                                QStringLiteral("When they connect, you'll still be asked to allow it. They can't "
                                               "see your screen until you do."),
                                TextStyle::callout, secondaryText(), "consentLine", true));

    auto* buttons = new QHBoxLayout;
    auto* cancelRequest = new QPushButton(QStringLiteral("Cancel Request"));
    cancelRequest->setObjectName(QStringLiteral("cancelRequestButton"));
    makeLarge(*cancelRequest);
    stylePlainButton(*cancelRequest, systemRed());
    auto* close = new QPushButton(QStringLiteral("Close"));
    close->setObjectName(QStringLiteral("closeButton"));
    makeLarge(*close);
    makeProminent(*close, accent());
    buttons->addWidget(cancelRequest);
    buttons->addStretch(1);
    buttons->addWidget(close);
    stack->addLayout(buttons);

    QPointer<HelpRequestCenter> center(center_);
    connect(cancelRequest, &QPushButton::clicked, this, [center] {
        if (center)
            center->cancel();
    });
    connect(close, &QPushButton::clicked, this, [this] {
        if (onClose_)
            onClose_();
    });
    faces_->insertWidget(faces_->indexOf(compose_) + 1, sent_);
    sent_->show();
}

} // namespace wl
