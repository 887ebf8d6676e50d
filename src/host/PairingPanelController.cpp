#include "host/PairingPanelController.h"

#include "host/WindowTitleRoom.h"
#include "style/TextStyle.h"

#include <QCloseEvent>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>

namespace wl {

namespace {

// A window whose close box counts as Cancel.
class PairingPanel : public QWidget {
public:
    std::function<void()> onCloseBox;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        if (onCloseBox) {
            auto handler = std::move(onCloseBox);
            onCloseBox = nullptr;
            handler();
        }
        event->accept();
    }
};

} // namespace

PairingPanelController::PairingPanelController(QObject* parent) : QObject(parent) { }

PairingPanelController::~PairingPanelController()
{
    close();
}

std::string PairingPanelController::displayCode(const std::string& code)
{
    if (code.size() != 8)
        return code;
    return code.substr(0, 4) + "-" + code.substr(4);
}

void PairingPanelController::show(const std::string& code, std::function<void()> cancel)
{
    close();
    cancel_ = std::move(cancel);

    auto* panel = new PairingPanel;
    panel->setWindowTitle(QString::fromUtf8(kTitle));
    panel->setWindowFlag(Qt::WindowStaysOnTopHint);
    panel->setObjectName("pairingPanel");

    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);

    auto* title = new QLabel(QString::fromUtf8(kTitle), panel);
    title->setFont(scaledFont(title->font(), 1.2, QFont::Bold));
    title->setObjectName("title");
    layout->addWidget(title);

    auto* codeLabel = new QLabel(QString::fromStdString(displayCode(code)), panel);
    codeLabel->setFont(scaledFont(fixedFont(), 2.4, QFont::Bold));
    codeLabel->setAlignment(Qt::AlignCenter);
    codeLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    codeLabel->setObjectName("code");
    layout->addWidget(codeLabel);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    auto* cancelButton = new QPushButton(QStringLiteral("Cancel"), panel);
    cancelButton->setObjectName("cancel");
    cancelButton->setShortcut(Qt::Key_Escape);
    buttons->addWidget(cancelButton);
    layout->addLayout(buttons);

    connect(cancelButton, &QPushButton::clicked, this, [this] { cancelled(); });
    panel->onCloseBox = [self = QPointer<PairingPanelController>(this)] {
        if (self)
            self->cancelled();
    };

    panel_ = panel;
    // Wide enough for the window manager to show the whole title.
    panel->setMinimumWidth(widthForWindowTitle(panel->windowTitle()));
    panel->adjustSize();
    panel->show();
    panel->raise();
    panel->activateWindow();
}

void PairingPanelController::close()
{
    cancel_ = nullptr;
    if (QWidget* panel = panel_) {
        panel_ = nullptr;
        static_cast<PairingPanel*>(panel)->onCloseBox = nullptr;
        panel->hide();
        panel->deleteLater();
    }
}

void PairingPanelController::cancelled()
{
    auto action = std::move(cancel_);
    close();
    if (action)
        action();
}

} // namespace wl
