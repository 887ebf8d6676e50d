#include "app/SendPasswordView.h"

#include "app/ShellPanel.h"
#include "style/Widgets.h"
#include "style/Palette.h"
#include "mail/PasswordCenter.h"
#include "platform/ShownText.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace wl {

namespace {

QLabel* caption(const QString& text)
{
    return makeLabel(text, TextStyle::callout, {}, nullptr, false);
}

// The rounded-border field of the form.
void roundedBorder(QLineEdit& field)
{
    styleFormField(field);
}

QVBoxLayout* section(QVBoxLayout* parent, int spacing)
{
    auto* layout = new QVBoxLayout;
    layout->setSpacing(spacing);
    parent->addLayout(layout);
    return layout;
}

} // namespace

SendPasswordView::SendPasswordView(PasswordCenter& center, const PairedDevice& device,
                                   const std::optional<StoredMessage>& request, std::function<void()> close,
                                   QWidget* parent)
    : QWidget(parent), center_(&center), device_(device), request_(request), close_(std::move(close))
{
    setObjectName(QStringLiteral("sendPasswordView"));
    setFixedWidth(kWidth);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(16);
    const QString name = QString::fromStdString(shownName(device.name));

    auto* header = section(stack, 4);
    if (request && request->content.text)
        header->addWidget(
            makeLabel(QStringLiteral("They asked: \u201c%1\u201d")
                          .arg(QString::fromStdString(shownText(*request->content.text, kShownLineLength))),
                      TextStyle::callout, secondaryText(), "askedLine", true));
    auto* heading = makeLabel(QStringLiteral("Send a password to %1").arg(name), TextStyle::title3, {}, "formTitle");
    heading->setFont(textFont(TextStyle::title3, QFont::DemiBold));
    header->addWidget(heading);
    header->addWidget(
        makeLabel(QStringLiteral("Locked so only %1 can open it, after Touch ID or their Mac's password.").arg(name),
                  TextStyle::callout, secondaryText(), "lockedLine", true));

    auto* labelSection = section(stack, 6);
    auto* labelCaption = caption(QStringLiteral("What's it for?"));
    labelCaption->setFont(textFont(TextStyle::callout, QFont::Medium));
    labelSection->addWidget(labelCaption);
    label_ = new QLineEdit;
    label_->setObjectName(QStringLiteral("labelField"));
    label_->setPlaceholderText(QStringLiteral("Wi-Fi, Apple Account, email\u2026"));
    roundedBorder(*label_);
    labelSection->addWidget(label_);

    auto* secretSection = section(stack, 6);
    auto* secretCaption = caption(QStringLiteral("Password"));
    secretCaption->setFont(textFont(TextStyle::callout, QFont::Medium));
    secretSection->addWidget(secretCaption);
    auto* secretRow = new QHBoxLayout;
    secret_ = new QLineEdit;
    secret_->setObjectName(QStringLiteral("secretField"));
    secret_->setFont(monospacedFont(TextStyle::body));
    secret_->setEchoMode(QLineEdit::Password);
    roundedBorder(*secret_);
    eye_ = new QPushButton;
    eye_->setObjectName(QStringLiteral("eyeButton"));
    makeBorderless(*eye_);
    secretRow->addWidget(secret_, 1);
    secretRow->addWidget(eye_);
    secretSection->addLayout(secretRow);

    auto* lifetimeSection = section(stack, 6);
    auto* lifetimeCaption = caption(QStringLiteral("Can be used"));
    lifetimeCaption->setFont(textFont(TextStyle::callout, QFont::Medium));
    lifetimeSection->addWidget(lifetimeCaption);
    auto* segments = new QHBoxLayout;
    segments->setSpacing(0);
    lifetimes_ = new QButtonGroup(this);
    lifetimes_->setExclusive(true);
    int index = 0;
    for (PasswordLifetime lifetime : kAllPasswordLifetimes) {
        auto* segment = new QPushButton(QString::fromStdString(title(lifetime)));
        segment->setObjectName(QString::fromStdString("lifetime." + rawValue(lifetime)));
        segment->setCheckable(true);
        segment->setChecked(lifetime == lifetime_);
        styleSegment(*segment, index, int(kAllPasswordLifetimes.size()));
        lifetimes_->addButton(segment, index++);
        segments->addWidget(segment, 1);
    }
    lifetimeSection->addLayout(segments);
    explanation_ = makeLabel({}, TextStyle::caption, secondaryText(), "lifetimeExplanation", true);
    // The explanation keeps the height of the longest one, so the buttons below stay put
    // when a shorter one is chosen.
    int explanationHeight = 0;
    const QRect textWidth(0, 0, kWidth - 40, QWIDGETSIZE_MAX);
    for (PasswordLifetime lifetime : kAllPasswordLifetimes)
        explanationHeight =
            std::max(explanationHeight,
                     explanation_->fontMetrics()
                         .boundingRect(textWidth, Qt::TextWordWrap, QString::fromStdString(explanation(lifetime)))
                         .height());
    explanation_->setMinimumHeight(explanationHeight);
    explanation_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    lifetimeSection->addWidget(explanation_);

    problemRow_ = new QWidget;
    problemRow_->setObjectName(QStringLiteral("problemRow"));
    auto* problemLayout = new QHBoxLayout(problemRow_);
    problemLayout->setContentsMargins(0, 0, 0, 0);
    problemLayout->addWidget(makeSymbolLabel(Symbol::exclamationTriangleFill, 14, systemOrange()), 0, Qt::AlignTop);
    problemText_ = makeLabel({}, TextStyle::callout, systemOrange(), "problemText", true);
    problemLayout->addWidget(problemText_, 1);
    stack->addWidget(problemRow_);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"));
    cancel->setObjectName(QStringLiteral("cancelButton"));
    sendButton_ = new QPushButton;
    sendButton_->setObjectName(QStringLiteral("sendButton"));
    makeProminent(*sendButton_, accent());
    buttons->addWidget(cancel);
    buttons->addWidget(sendButton_);
    stack->addLayout(buttons);

    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, cancel, &QPushButton::click);
    for (auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* shortcut = new QShortcut(QKeySequence(key), this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (sendButton_->isEnabled())
                sendButton_->click();
        });
    }

    connect(cancel, &QPushButton::clicked, this, [this] {
        if (close_)
            close_();
    });
    connect(sendButton_, &QPushButton::clicked, this, &SendPasswordView::send);
    connect(eye_, &QPushButton::clicked, this, [this] {
        showsSecret_ = !showsSecret_;
        redraw();
    });
    connect(label_, &QLineEdit::textChanged, this, &SendPasswordView::redraw);
    connect(secret_, &QLineEdit::textChanged, this, &SendPasswordView::redraw);
    connect(lifetimes_, &QButtonGroup::idClicked, this, [this](int id) {
        lifetime_ = kAllPasswordLifetimes.at(static_cast<std::size_t>(id));
        redraw();
    });
    redraw();
}

void SendPasswordView::redraw()
{
    secret_->setEchoMode(showsSecret_ ? QLineEdit::Normal : QLineEdit::Password);
    eye_->setIcon(symbolIcon(showsSecret_ ? Symbol::eyeSlash : Symbol::eye, 16, secondaryText()));
    eye_->setToolTip(showsSecret_ ? QStringLiteral("Hide the password") : QStringLiteral("Show the password"));
    eye_->setAccessibleName(showsSecret_ ? QStringLiteral("Hide password") : QStringLiteral("Show password"));
    explanation_->setText(QString::fromStdString(explanation(lifetime_)));
    problemText_->setText(problem_ ? QString::fromStdString(*problem_) : QString());
    problemRow_->setVisible(problem_.has_value());
    sendButton_->setText(sending_ ? QStringLiteral("Sending\u2026") : QStringLiteral("Send"));
    // The label must say something; the password is taken as typed (spaces count).
    sendButton_->setEnabled(!sending_ && !label_->text().trimmed().isEmpty() && !secret_->text().isEmpty());
}

void SendPasswordView::send()
{
    if (!center_ || sending_)
        return;
    sending_ = true;
    problem_.reset();
    redraw();

    const std::string label = label_->text().trimmed().toStdString();
    MailContent content;
    content.kind = MailContent::Kind::password;
    if (request_)
        content.replyTo = request_->id;
    content.sentAt = center_->messenger().now();
    content.label = label;
    content.secret = secret_->text().toStdString();
    content.lifetime = rawValue(lifetime_);
    content.expiresAt = content.sentAt + interval(lifetime_);

    QPointer<SendPasswordView> self(this);
    QPointer<PasswordCenter> center(center_);
    const PairedDevice device = device_;
    auto close = close_;
    center_->messenger().send(content, device, [self, center, device, label, close](Messenger::SendResult result) {
        if (result.ok() && center)
            center->didSend(device, label);
        if (self) {
            self->sendErrorText(result.error);
        } else if (result.ok() && close) {
            // The form is gone; the panel closes only while it still hosts it.
            close();
        }
    });
}

void SendPasswordView::sendErrorText(const std::optional<Messenger::SendError>& error)
{
    sending_ = false;
    if (!error) {
        secret_->clear();
        redraw();
        if (close_)
            close_();
        return;
    }
    problem_ = "Not sent. " + Messenger::sendErrorText(*error);
    redraw();
}

// ---- SendPasswordPanel ----

SendPasswordPanel::SendPasswordPanel(PasswordCenter& center, std::shared_ptr<CaptureExclusion> exclusion)
    : center_(&center), panel_(new ShellPanel(QStringLiteral("Send a Password"), std::move(exclusion)))
{
    panel_->setObjectName(QStringLiteral("sendPasswordPanel"));
}

SendPasswordPanel::~SendPasswordPanel()
{
    delete panel_.data();
}

SendPasswordView* SendPasswordPanel::form() const
{
    return panel_ ? qobject_cast<SendPasswordView*>(panel_->view()) : nullptr;
}

void SendPasswordPanel::host(const PairedDevice& device, const std::optional<StoredMessage>& request,
                             std::function<void()> close)
{
    if (!panel_ || !center_)
        return;
    panel_->setView(new SendPasswordView(*center_, device, request, std::move(close)));
}

void SendPasswordPanel::centre()
{
    if (panel_)
        panel_->centre();
}

void SendPasswordPanel::present()
{
    if (panel_)
        panel_->present();
}

void SendPasswordPanel::orderOut()
{
    if (panel_)
        panel_->orderOut();
}

bool SendPasswordPanel::isOnScreen() const
{
    return panel_ && panel_->isOnScreen();
}

void SendPasswordPanel::discardLater()
{
    if (panel_)
        panel_.data()->discardLater();
    panel_ = nullptr;
    QTimer::singleShot(0, [self = this] { delete self; });
}

} // namespace wl
