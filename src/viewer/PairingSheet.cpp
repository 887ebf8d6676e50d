#include "viewer/PairingSheet.h"

#include "platform/ShownText.h"
#include "viewer/ViewerController.h"
#include "style/Palette.h"
#include "style/TextStyle.h"
#include "style/Widgets.h"

#include <QFont>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QVBoxLayout>

namespace wl {

namespace {

QLabel* wrapped(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setWordWrap(true);
    return label;
}

QLabel* secondary(const QString& text, QWidget* parent)
{
    auto* label = wrapped(text, parent);
    setTextColourSheet(*label, quietText());
    return label;
}

// A small busy indicator beside a text.
QWidget* busyRow(const QString& text, bool secondaryStyle, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    auto* spinner = new QProgressBar(row);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setFixedSize(48, 10);
    layout->addWidget(spinner);
    layout->addWidget(secondaryStyle ? secondary(text, row) : wrapped(text, row), 1);
    return row;
}

// The buttons of a page, at its bottom right.
QHBoxLayout* buttonRow()
{
    auto* row = new QHBoxLayout;
    row->setSpacing(8);
    row->addStretch(1);
    return row;
}

// A button that never becomes the default by taking the focus: Return stays with the
// page's primary button (Space presses the focused one).
QPushButton* button(const QString& title, QWidget* parent)
{
    auto* button = new QPushButton(title, parent);
    button->setAutoDefault(false);
    return button;
}

QWidget* page(QWidget* parent, QVBoxLayout*& layout)
{
    auto* widget = new QWidget(parent);
    layout = new QVBoxLayout(widget);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);
    return widget;
}

} // namespace

PairingSheet::PairingSheet(ViewerController& controller, QWidget* parent) : QDialog(parent), controller_(&controller)
{
    setWindowTitle(QStringLiteral("Pair with a Mac"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(kWidth);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(16);
    auto* title = new QLabel(QStringLiteral("Pair with a Mac"), this);
    title->setFont(scaledFont(title->font(), 1.4, QFont::Bold));
    layout->addWidget(title);
    pages_ = new QStackedWidget(this);
    pages_->addWidget(makeIdlePage());
    pages_->addWidget(makeConnectingPage());
    pages_->addWidget(makeVerifyPage());
    pages_->addWidget(makePairedPage());
    pages_->addWidget(makeFailedPage());
    layout->addWidget(pages_);
    connect(&controller, &ViewerController::changed, this, &PairingSheet::refresh);
    refresh();
}

QWidget* PairingSheet::makeIdlePage()
{
    QVBoxLayout* layout = nullptr;
    QWidget* widget = page(this, layout);
    widget->setObjectName(QStringLiteral("idle"));
    auto* form = new QFormLayout;
    code_ = new QLineEdit(widget);
    code_->setPlaceholderText(QStringLiteral("K7QM-3XRP"));
    code_->setFont(fixedFont());
    code_->setAccessibleName(QStringLiteral("Pairing code"));
    form->addRow(QStringLiteral("Pairing code"), code_);
    name_ = new QLineEdit(widget);
    name_->setPlaceholderText(QStringLiteral("Mom's iMac"));
    name_->setAccessibleName(QStringLiteral("Name (optional)"));
    form->addRow(QStringLiteral("Name (optional)"), name_);
    layout->addLayout(form);
    codeError_ = wrapped(QString::fromUtf8(kCodeErrorText), widget);
    codeError_->setFont(scaledFont(codeError_->font(), 0.85));
    setTextColourSheet(*codeError_, errorText());
    codeError_->setVisible(false);
    layout->addWidget(codeError_);
    auto* buttons = buttonRow();
    auto* cancel = button(QStringLiteral("Cancel"), widget);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    pairButton_ = button(QStringLiteral("Pair"), widget);
    connect(pairButton_, &QPushButton::clicked, this, &PairingSheet::pairAction);
    buttons->addWidget(cancel);
    buttons->addWidget(pairButton_);
    layout->addLayout(buttons);
    return widget;
}

QWidget* PairingSheet::makeConnectingPage()
{
    QVBoxLayout* layout = nullptr;
    QWidget* widget = page(this, layout);
    widget->setObjectName(QStringLiteral("connecting"));
    layout->addWidget(busyRow(QStringLiteral("Connecting\u2026"), false, widget));
    auto* buttons = buttonRow();
    auto* cancel = button(QStringLiteral("Cancel"), widget);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    return widget;
}

QWidget* PairingSheet::makeVerifyPage()
{
    QVBoxLayout* layout = nullptr;
    QWidget* widget = page(this, layout);
    widget->setObjectName(QStringLiteral("verify"));
    verifyText_ = wrapped({}, widget);
    layout->addWidget(verifyText_);
    number_ = new QLabel(widget);
    number_->setFont(fixedFont(40, QFont::Bold));
    number_->setAlignment(Qt::AlignCenter);
    layout->addWidget(number_);
    layout->addWidget(secondary(QStringLiteral("If it matches, they click Allow on their Mac. If it doesn't, don't "
                                               "continue: something is wrong."),
                                widget));
    layout->addWidget(busyRow(QStringLiteral("Waiting for them to allow it\u2026"), true, widget));
    auto* buttons = buttonRow();
    auto* cancel = button(QStringLiteral("Cancel"), widget);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    buttons->addWidget(cancel);
    layout->addLayout(buttons);
    return widget;
}

QWidget* PairingSheet::makePairedPage()
{
    QVBoxLayout* layout = nullptr;
    QWidget* widget = page(this, layout);
    widget->setObjectName(QStringLiteral("paired"));
    pairedText_ = wrapped({}, widget);
    setTextColourSheet(*pairedText_, pairedText());
    layout->addWidget(pairedText_);
    auto* buttons = buttonRow();
    doneButton_ = button(QStringLiteral("Done"), widget);
    connect(doneButton_, &QPushButton::clicked, this, &QDialog::accept);
    buttons->addWidget(doneButton_);
    layout->addLayout(buttons);
    return widget;
}

QWidget* PairingSheet::makeFailedPage()
{
    QVBoxLayout* layout = nullptr;
    QWidget* widget = page(this, layout);
    widget->setObjectName(QStringLiteral("failed"));
    failedText_ = wrapped({}, widget);
    layout->addWidget(failedText_);
    auto* buttons = buttonRow();
    auto* close = button(QStringLiteral("Close"), widget);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    againButton_ = button(QStringLiteral("Try Again"), widget);
    connect(againButton_, &QPushButton::clicked, this, [this] {
        if (controller_)
            controller_->hosts().cancelPairing();
    });
    buttons->addWidget(close);
    buttons->addWidget(againButton_);
    layout->addLayout(buttons);
    return widget;
}

void PairingSheet::pairAction()
{
    if (!controller_)
        return;
    const bool started = controller_->hosts().pair(code_->text().toStdString(), name_->text().toStdString());
    showCodeError_ = !started;
    codeError_->setVisible(showCodeError_);
    pages_->setFixedHeight(pages_->currentWidget()->sizeHint().height());
    adjustSize();
}

void PairingSheet::updateDefaultButton()
{
    QPushButton* primary = nullptr;
    switch (pages_->currentIndex()) {
    case 0: primary = pairButton_; break;
    case 3: primary = doneButton_; break;
    case 4: primary = againButton_; break;
    default: break; // connecting and verify offer only Cancel
    }
    for (QPushButton* candidate : {pairButton_, doneButton_, againButton_})
        if (candidate != primary)
            candidate->setDefault(false);
    if (primary)
        primary->setDefault(true);
}

QString PairingSheet::pageName() const
{
    return pages_->currentWidget() ? pages_->currentWidget()->objectName() : QString();
}

void PairingSheet::refresh()
{
    if (!controller_)
        return;
    using Kind = ViewerController::PairingState::Kind;
    const auto& state = controller_->hosts().pairingState();
    switch (state.kind) {
    case Kind::idle: pages_->setCurrentIndex(0); break;
    case Kind::connecting: pages_->setCurrentIndex(1); break;
    case Kind::verify:
        verifyText_->setText(QStringLiteral("Check that %1 shows this same number:")
                                 .arg(QString::fromStdString(shownName(state.hostName))));
        number_->setText(QString::fromStdString(state.number));
        number_->setAccessibleName(QStringLiteral("Number ") + QString::fromStdString(state.number));
        pages_->setCurrentIndex(2);
        break;
    case Kind::paired:
        pairedText_->setText(QStringLiteral("\u2714 Paired with ") + QString::fromStdString(shownName(state.text)));
        pages_->setCurrentIndex(3);
        break;
    case Kind::failed:
        failedText_->setText(QString::fromStdString(state.text));
        pages_->setCurrentIndex(4);
        break;
    }
    updateDefaultButton();
    // The sheet takes the height of the page shown.
    pages_->setFixedHeight(pages_->currentWidget()->sizeHint().height());
    adjustSize();
}

} // namespace wl
