#include "app/people/PersonCard.h"

#include "app/StyleKit.h"
#include "app/people/PeopleStyle.h"
#include "app/people/PeopleView.h"
#include "platform/ShownText.h"

#include <QEasingCurve>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QVariantAnimation>
#include <QVBoxLayout>

#include <algorithm>

namespace wl {

namespace {

constexpr const char* kDot = " \u00b7 ";

std::string counted(std::size_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

// The first character of a name, upper-cased (a whole character, not a byte).
std::string initialOf(const std::string& name)
{
    const QString text = QString::fromStdString(name);
    if (text.isEmpty())
        return {};
    const qsizetype length = text.at(0).isHighSurrogate() && text.size() > 1 ? 2 : 1;
    return text.left(length).toUpper().toStdString();
}

// The avatar: a 40-point disc with the initial or the symbol of "My Macs".
class Avatar final : public QWidget {
public:
    Avatar(const PersonCardModel& model, QWidget* parent) : QWidget(parent), model_(model)
    {
        setFixedSize(40, 40);
        setAccessibleName(QString());
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const bool asking = model_.asking();
        p.setPen(Qt::NoPen);
        p.setBrush(asking ? askingAccent() : withOpacity(Qt::white, 0.1));
        p.drawEllipse(QRectF(rect()));
        const QColor content = asking ? peopleDeepFill() : primaryText();
        if (model_.avatarIsMyMacs) {
            p.drawImage(QPointF(10, 10), renderSymbol(Symbol::laptopAndPhone, content, 20));
            return;
        }
        p.setPen(content);
        p.setFont(peopleFont(TextStyle::headline));
        p.drawText(rect(), Qt::AlignCenter, QString::fromStdString(model_.avatarText));
    }

private:
    PersonCardModel model_;
};

// The card's stack: its parts keep their own heights whatever height the card has, so a
// card shorter than them (while it grows) cuts them off at its edge, and one taller
// (while it shrinks) has empty space below them.
class CardStack final : public QVBoxLayout {
public:
    using QVBoxLayout::QVBoxLayout;
    void setGeometry(const QRect& rect) override
    {
        const int natural = hasHeightForWidth() ? heightForWidth(rect.width()) : sizeHint().height();
        QVBoxLayout::setGeometry(QRect(rect.topLeft(), QSize(rect.width(), natural)));
    }
};

// Ease-out: the cubic curve through (0, 0), (0.58, 1) and (1, 1).
QEasingCurve easeOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

} // namespace

PersonCardModel personCardModel(const PersonGroup& group, const std::set<std::string>& onlineIDs, bool expanded,
                                Date now)
{
    PersonCardModel model;
    model.name = group.name;
    model.expanded = expanded;
    if (!group.requests.empty())
        model.request = group.requests.front();
    model.avatarIsMyMacs = group.name == "My Macs";
    model.avatarText = initialOf(shownName(group.name));
    if (model.request)
        model.subtitle = "Asking" + std::string(kDot) + relativeAge(model.request->at, now);
    else
        model.subtitle = deviceCountsText(group.devices, onlineIDs);
    model.accessibilityHint = expanded ? "Hides their devices" : "Shows their devices";

    for (const auto& device : group.devices) {
        const bool shown = expanded || (model.request && model.request->peerId == device.id);
        if (!shown)
            continue;
        PersonCardModel::Row row;
        row.device = device;
        for (const auto& request : group.requests)
            if (request.peerId == device.id) {
                row.request = request;
                break;
            }
        model.rows.push_back(std::move(row));
    }
    if (model.request && group.devices.size() >= 2) {
        if (expanded)
            model.showMore = "Show less";
        else
            model.showMore = "Show " + counted(group.devices.size() - model.rows.size(), "more device", "more devices");
    }
    return model;
}

std::string deviceCountsText(const std::vector<PairedDevice>& devices, const std::set<std::string>& onlineIDs)
{
    const auto online = static_cast<std::size_t>(std::count_if(
        devices.begin(), devices.end(), [&](const PairedDevice& d) { return onlineIDs.count(d.id) > 0; }));
    return counted(devices.size(), "device", "devices") + kDot + std::to_string(online) + " online";
}

PersonCardHeader::PersonCardHeader(const PersonCardModel& model, QWidget* parent) : QAbstractButton(parent)
{
    setObjectName(QStringLiteral("personHeader"));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(QString::fromStdString(model.name));
    setAccessibleDescription(QString::fromStdString(model.accessibilityHint));
    setToolTip(QString());

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(12);
    auto* avatar = new Avatar(model, this);
    avatar->setObjectName(QStringLiteral("avatar"));
    avatar->setAttribute(Qt::WA_TransparentForMouseEvents);
    row->addWidget(avatar, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    auto* title = plainLabel(shownName(model.name), TextStyle::title3, primaryText(), this, false, QFont::Bold);
    title->setObjectName(QStringLiteral("personName"));
    texts->addWidget(title);
    subtitle_ = plainLabel(model.subtitle, TextStyle::caption, model.asking() ? askingAccent() : secondaryText(), this);
    subtitle_->setObjectName(QStringLiteral("personSubtitle"));
    texts->addWidget(subtitle_);
    row->addLayout(texts, 1);

    auto* chevron = new SymbolView(Symbol::chevronDown, secondaryText(), 14, this);
    chevron->setObjectName(QStringLiteral("chevron"));
    chevron->setRotation(model.expanded ? 180 : 0);
    row->addWidget(chevron, 0, Qt::AlignVCenter);

    // Clicks anywhere on the header, between its parts too, reach the button.
    for (QWidget* child : findChildren<QWidget*>())
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
}

QSize PersonCardHeader::sizeHint() const
{
    return layout() ? layout()->sizeHint() : QSize(200, 68);
}

QSize PersonCardHeader::minimumSizeHint() const
{
    return layout() ? layout()->minimumSize() : QSize(100, 68);
}

PersonCard::PersonCard(PeopleView& view, PersonCardScene scene, QWidget* parent)
    : QWidget(parent), view_(view), scene_(std::move(scene))
{
    setObjectName(QStringLiteral("personCard"));
    setProperty("groupName", QString::fromStdString(scene_.card.name));
    const bool asking = scene_.card.asking();

    auto* stack = new CardStack(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(0);

    QPointer<PeopleView> owner(&view_);
    const std::string name = scene_.card.name;
    auto toggle = [owner, name] {
        if (owner)
            owner->toggleExpanded(name);
    };

    auto* header = new PersonCardHeader(scene_.card, this);
    connect(header, &QAbstractButton::clicked, this, toggle);
    stack->addWidget(header);
    if (scene_.card.request)
        view_.showAge(header->subtitle(), "Asking" + std::string(kDot), scene_.card.request->at);
    else
        view_.showDeviceCounts(header->subtitle(), name);

    if (scene_.block)
        stack->addWidget(new RequestBlock(view_, *scene_.block, this));

    const QColor divider = asking ? withOpacity(askingAccent(), 0.25) : withOpacity(Qt::white, 0.08);
    for (const auto& line : scene_.lines) {
        stack->addWidget(new Divider(divider, 14, this));
        stack->addWidget(new DeviceLine(view_, line, this));
    }

    if (scene_.card.showMore) {
        stack->addWidget(new Divider(withOpacity(askingAccent(), 0.25), 14, this));
        auto* more = plainButton(QString::fromStdString(*scene_.card.showMore),
                                 peopleFont(TextStyle::callout, QFont::DemiBold), secondaryText(), this);
        more->setObjectName(QStringLiteral("showMore"));
        auto* holder = new QWidget(this);
        auto* holderLayout = new QHBoxLayout(holder);
        holderLayout->setContentsMargins(14, 10, 14, 10);
        holderLayout->addWidget(more);
        holderLayout->addStretch(1);
        connect(more, &QPushButton::clicked, this, toggle);
        stack->addWidget(holder);
    }
}

void PersonCard::animateHeightFrom(int height)
{
    auto naturalHeight = [this] {
        QLayout* stack = layout();
        return stack->hasHeightForWidth() && width() > 0 ? stack->totalHeightForWidth(width())
                                                         : stack->totalSizeHint().height();
    };
    if (height <= 0 || height == naturalHeight())
        return;
    layout()->setSizeConstraint(QLayout::SetNoConstraint);
    setFixedHeight(height);
    auto* animation = new QVariantAnimation(this);
    animation->setDuration(kExpandMilliseconds);
    animation->setEasingCurve(easeOut());
    animation->setStartValue(0.0);
    animation->setEndValue(1.0);
    // The end is the card's own height as it is laid out now (its width may still change).
    connect(animation, &QVariantAnimation::valueChanged, this, [this, height, naturalHeight](const QVariant& value) {
        const double progress = value.toDouble();
        setFixedHeight(qRound(height + (naturalHeight() - height) * progress));
        // The cards below follow in the same frame.
        if (QWidget* column = parentWidget(); column && column->layout())
            column->layout()->activate();
    });
    connect(animation, &QVariantAnimation::finished, this, [this] {
        setMinimumHeight(0);
        setMaximumHeight(QWIDGETSIZE_MAX);
        layout()->setSizeConstraint(QLayout::SetDefaultConstraint);
        updateGeometry();
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void PersonCard::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool asking = scene_.card.asking();
    const QRectF area = QRectF(rect());
    QPainterPath shape;
    shape.addRoundedRect(area, 16, 16);
    p.fillPath(shape, asking ? askingFill() : peopleCardFill());
    if (asking) {
        QPainterPath edge;
        edge.addRoundedRect(area.adjusted(0.75, 0.75, -0.75, -0.75), 15.25, 15.25);
        p.setPen(QPen(askingAccent(), 1.5));
        p.drawPath(edge);
    }
}

} // namespace wl
