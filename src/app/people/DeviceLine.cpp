#include "app/people/DeviceLine.h"

#include "style/Palette.h"
#include "style/Widgets.h"
#include "app/people/PeopleView.h"
#include "mail/Messenger.h"
#include "mail/MyMacs.h"
#include "mail/PasswordCenter.h"
#include "mail/SendPasswordPanelController.h"
#include "platform/ShownText.h"
#include "viewer/ViewerController.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QStyleOptionMenuItem>
#include <QVBoxLayout>

namespace wl {

namespace {

constexpr const char* kDot = " \u00b7 ";

// A menu whose destructive items ("Remove") read in the destructive colour.
class LineMenu final : public QMenu {
public:
    using QMenu::QMenu;

protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override
    {
        QMenu::initStyleOption(option, action);
        if (action && action->property("destructive").toBool() && action->isEnabled())
            for (auto role : {QPalette::Text, QPalette::WindowText, QPalette::ButtonText})
                option->palette.setColor(role, destructiveText());
    }
};

QColor toneColour(DeviceLineModel::Tone tone)
{
    switch (tone) {
    case DeviceLineModel::Tone::asking: return askingAccent();
    case DeviceLineModel::Tone::online: return accent();
    case DeviceLineModel::Tone::offline: break;
    }
    return secondaryText();
}

// The 8-point status dot: a ring inside its edge, solid while online.
class StatusDot final : public QWidget {
public:
    StatusDot(const QColor& colour, bool filled, QWidget* parent) : QWidget(parent), colour_(colour), filled_(filled)
    {
        setFixedSize(8, 8);
    }
    void set(const QColor& colour, bool filled)
    {
        if (colour == colour_ && filled == filled_)
            return;
        colour_ = colour;
        filled_ = filled;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF area = QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75);
        p.setBrush(filled_ ? QBrush(colour_) : QBrush(Qt::NoBrush));
        p.setPen(QPen(colour_, 1.5));
        p.drawEllipse(area);
    }

private:
    QColor colour_;
    bool filled_;
};

const char* actionName(DeviceLineModel::Action action)
{
    using A = DeviceLineModel::Action;
    switch (action) {
    case A::sendMessage: return "sendMessage";
    case A::sendPassword: return "sendPassword";
    case A::removeFromMyMacs: return "removeFromMyMacs";
    case A::setPerson: return "setPerson";
    case A::addToMyMacs: return "addToMyMacs";
    case A::askToHelp: return "askToHelp";
    case A::connectWithoutAsking: return "connectWithoutAsking";
    case A::divider: return "divider";
    case A::remove: return "remove";
    }
    return "";
}

} // namespace

DeviceLineModel deviceLineModel(const PairedDevice& device, const std::optional<StoredMessage>& request, bool online,
                                bool unattended, bool notifyWhenOnline, bool waitingToJoin, bool isMine, Date now)
{
    using M = DeviceLineModel;
    M model;
    model.device = device;
    model.request = request;
    model.online = online;
    model.unattended = unattended;
    model.tone = request ? M::Tone::asking : online ? M::Tone::online : M::Tone::offline;
    model.dotFilled = online;

    if (request) {
        model.statusText = "Asking for help" + std::string(kDot) + relativeAge(request->at, now);
        if (!online)
            model.statusText += std::string(kDot) + "now offline";
    } else if (waitingToJoin) {
        model.statusText = "Waiting for a yes to join My Macs";
    } else if (online && unattended) {
        model.statusText = "Online" + std::string(kDot) + "unattended";
    } else if (online) {
        model.statusText = "Online";
    } else {
        model.statusText = "Offline";
    }

    if (!online && notifyWhenOnline) {
        model.primary = M::Primary::willNotify;
        model.primaryTitle = "Will Notify";
        model.primaryTooltip = "You'll get a notification when it comes online. Click to stop.";
    } else if (!online) {
        model.primary = M::Primary::notifyMe;
        model.primaryTitle = "Notify Me";
        model.primaryTooltip = "Get a notification when it comes online";
    } else if (request) {
        model.primary = M::Primary::helpNow;
        model.primaryTitle = "Help Now";
        model.primaryIsPill = true;
    } else if (unattended) {
        model.primary = M::Primary::connect;
        model.primaryTitle = "Connect";
        model.primaryTooltip = "Straight in, after Touch ID (and the PIN if one is set)";
        model.primaryIsPill = true;
    } else {
        model.primary = M::Primary::askToHelp;
        model.primaryTitle = "Ask to Help";
        model.primaryTooltip = "They choose whether you guide or take over";
        model.primaryIsPill = true;
    }

    auto item = [&](M::Action action, std::string title, bool enabled = true, bool destructive = false) {
        model.menu.push_back(M::MenuItem{action, std::move(title), enabled, destructive});
    };
    item(M::Action::sendMessage, "Send a Message\u2026");
    item(M::Action::sendPassword, "Send a Password\u2026");
    if (isMine) {
        item(M::Action::removeFromMyMacs, "Remove from My Macs\u2026");
    } else {
        item(M::Action::setPerson, "Set Person\u2026");
        item(M::Action::addToMyMacs, "Add to My Macs\u2026", !waitingToJoin);
    }
    if (online) {
        item(M::Action::askToHelp, "Ask to Help");
        item(M::Action::connectWithoutAsking, "Connect Without Asking");
    }
    item(M::Action::divider, "");
    item(M::Action::remove, "Remove", true, true);
    return model;
}

DeviceLine::DeviceLine(PeopleView& view, DeviceLineModel model, QWidget* parent)
    : QWidget(parent), view_(view), model_(std::move(model))
{
    setObjectName(QStringLiteral("deviceLine"));
    setProperty("deviceId", QString::fromStdString(model_.device.id));

    row_ = new QHBoxLayout(this);
    row_->setContentsMargins(14, 10, 14, 10);
    row_->setSpacing(10);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    name_ = plainLabel({}, TextStyle::body, secondaryText(), this, false, QFont::DemiBold);
    name_->setObjectName(QStringLiteral("deviceName"));
    texts->addWidget(name_);
    auto* statusRow = new QHBoxLayout;
    statusRow->setSpacing(6);
    auto* dot = new StatusDot(toneColour(model_.tone), model_.dotFilled, this);
    dot->setObjectName(QStringLiteral("statusDot"));
    dot_ = dot;
    statusRow->addWidget(dot, 0, Qt::AlignVCenter);
    status_ = plainLabel({}, TextStyle::caption, secondaryText(), this);
    status_->setObjectName(QStringLiteral("statusText"));
    statusRow->addWidget(status_, 0, Qt::AlignVCenter);
    statusRow->addStretch(1);
    texts->addLayout(statusRow);
    row_->addLayout(texts, 1);
    present(true);
}

void DeviceLine::setModel(DeviceLineModel model)
{
    if (model == model_)
        return;
    const bool samePrimary = model.primaryIsPill == model_.primaryIsPill && model.primary == model_.primary;
    model_ = std::move(model);
    present(!samePrimary);
}

void DeviceLine::present(bool newPrimary)
{
    const QColor status = toneColour(model_.tone);
    name_->setText(QString::fromStdString(shownName(model_.device.name)));
    setTextColour(name_, model_.online ? primaryText() : secondaryText());
    static_cast<StatusDot*>(dot_)->set(status, model_.dotFilled);
    status_->setText(QString::fromStdString(model_.statusText));
    setTextColour(status_, status);
    if (model_.request)
        view_.showAge(status_, "Asking for help" + std::string(kDot), model_.request->at,
                      model_.online ? std::string() : kDot + std::string("now offline"));
    else
        view_.stopAge(status_);

    if (newPrimary || !primary_) {
        // The old button may be the sender of the click that changed the line.
        discardWidget(primary_);
        if (model_.primaryIsPill) {
            const QColor fill = model_.primary == DeviceLineModel::Primary::helpNow ? askingAccent() : accent();
            primary_ = new PillButton({}, fill, pillText(), this);
        } else {
            primary_ = new QPushButton(this);
        }
        primary_->setObjectName(QStringLiteral("primaryButton"));
        connect(primary_, &QPushButton::clicked, this, &DeviceLine::runPrimary);
        row_->addWidget(primary_, 0, Qt::AlignVCenter);
        primary_->show();
    }
    primary_->setText(QString::fromStdString(model_.primaryTitle));
    primary_->setToolTip(QString::fromStdString(model_.primaryTooltip));
    primary_->updateGeometry();
}

QMenu* DeviceLine::makeMenu()
{
    // Owned by the view: the line may go away while its menu is open.
    auto* menu = new LineMenu(&view_);
    menu->setObjectName(QStringLiteral("deviceMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<PeopleView> view(&view_);
    for (const auto& item : model_.menu) {
        if (item.action == DeviceLineModel::Action::divider) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(QString::fromStdString(item.title));
        action->setObjectName(QString::fromLatin1(actionName(item.action)));
        action->setEnabled(item.enabled);
        if (item.destructive)
            action->setProperty("destructive", true);
        // The action runs against the line's Mac even when the line itself is gone.
        QObject::connect(action, &QAction::triggered, menu, [view, device = model_.device, which = item.action] {
            if (view)
                DeviceLine::perform(*view, device, which);
        });
    }
    shownMenu_ = menu;
    return menu;
}

void DeviceLine::contextMenuEvent(QContextMenuEvent* event)
{
    makeMenu()->popup(event->globalPos());
    event->accept();
}

void DeviceLine::perform(PeopleView& view, const PairedDevice& device, DeviceLineModel::Action action)
{
    using A = DeviceLineModel::Action;
    ViewerController& controller = view.controller();
    switch (action) {
    case A::sendMessage: view.messenger().compose(device); break;
    case A::sendPassword: view.passwords().composer().show(device); break;
    case A::removeFromMyMacs: controller.hosts().removeFromMyMacs(device); break;
    case A::setPerson: controller.hosts().setPerson(device); break;
    case A::addToMyMacs: view.myMacs().ask(device); break;
    case A::askToHelp: controller.session().connect(device, false); break;
    case A::connectWithoutAsking: controller.session().connect(device, true); break;
    case A::divider: break;
    case A::remove: controller.hosts().removeDevice(device); break;
    }
}

void DeviceLine::runPrimary()
{
    using P = DeviceLineModel::Primary;
    ViewerController& controller = view_.controller();
    const PairedDevice device = model_.device;
    switch (model_.primary) {
    case P::willNotify:
    case P::notifyMe: controller.hosts().toggleNotifyWhenOnline(device); break;
    case P::helpNow:
    case P::askToHelp: controller.session().connect(device, false); break;
    case P::connect: controller.session().connect(device, true); break;
    }
}

} // namespace wl
