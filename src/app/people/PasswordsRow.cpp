#include "app/people/PasswordsRow.h"

#include "style/Palette.h"
#include "style/Widgets.h"
#include "mail/PasswordCenter.h"
#include "mail/PasswordsPanelController.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>

namespace wl {

std::string passwordsRowText(std::size_t received)
{
    if (received == 0)
        return "Passwords you sent";
    if (received == 1)
        return "1 password to copy";
    return std::to_string(received) + " passwords to copy";
}

PasswordsRow::PasswordsRow(PasswordCenter& passwords, std::size_t received, QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("passwordsRow"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(12);
    row->addWidget(new SymbolView(Symbol::key, systemYellow(), 16, this), 0, Qt::AlignVCenter);
    auto* text = plainLabel(passwordsRowText(received), TextStyle::callout, primaryText(), this, false, QFont::Medium);
    text->setObjectName(QStringLiteral("passwordsText"));
    row->addWidget(text, 0, Qt::AlignVCenter);
    row->addStretch(1);
    auto* show = new QPushButton(QStringLiteral("Show"), this);
    show->setObjectName(QStringLiteral("showPasswords"));
    QPointer<PasswordCenter> centre(&passwords);
    connect(show, &QPushButton::clicked, this, [centre] {
        if (centre)
            centre->panel().show();
    });
    row->addWidget(show, 0, Qt::AlignVCenter);
}

void PasswordsRow::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 16, 16);
    p.fillPath(shape, cardFill());
}

} // namespace wl
