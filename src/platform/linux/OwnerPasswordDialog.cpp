#include "platform/linux/OwnerPasswordDialog.h"

#include "style/Palette.h"
#include "style/Widgets.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace wl {

OwnerPasswordDialog::OwnerPasswordDialog(const std::string& reason, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("ownerPasswordDialog"));
    setWindowTitle(QStringLiteral("Confirm it's you"));
    setWindowFlag(Qt::WindowStaysOnTopHint);
    auto* layout = new QVBoxLayout(this);
    auto* text =
        new QLabel(QString::fromStdString("Wickerlane wants to " + reason + ". Enter your password to allow this."));
    text->setWordWrap(true);
    layout->addWidget(text);
    field_ = new QLineEdit;
    field_->setObjectName(QStringLiteral("passwordField"));
    field_->setEchoMode(QLineEdit::Password);
    field_->setMinimumWidth(320);
    layout->addWidget(field_);
    problem_ = new QLabel(QStringLiteral("That password isn't right. Try again."));
    problem_->setObjectName(QStringLiteral("problemLabel"));
    // A red that reads on the desktop's light or dark windows.
    setTextColourSheet(*problem_, problemTextOn(palette().color(QPalette::Window)));
    problem_->setWordWrap(true);
    // Keeps its place while hidden, so the dialog does not jump when it appears.
    auto policy = problem_->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    problem_->setSizePolicy(policy);
    problem_->hide();
    layout->addWidget(problem_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    allowButton_ = buttons->button(QDialogButtonBox::Ok);
    allowButton_->setText(QStringLiteral("Allow"));
    allowButton_->setObjectName(QStringLiteral("allowButton"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("cancelButton"));
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { allow(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    field_->setFocus();
}

void OwnerPasswordDialog::allow()
{
    if (!allowButton_->isEnabled())
        return;
    if (onAllow)
        onAllow(field_->text().toStdString());
}

void OwnerPasswordDialog::showChecking()
{
    field_->setEnabled(false);
    allowButton_->setEnabled(false);
}

void OwnerPasswordDialog::showWrongPassword()
{
    field_->clear();
    field_->setEnabled(true);
    allowButton_->setEnabled(true);
    problem_->show();
    field_->setFocus();
}

void OwnerPasswordDialog::reject()
{
    if (!cancelled_) {
        cancelled_ = true;
        if (onCancel)
            onCancel();
    }
    QDialog::reject();
}

} // namespace wl
