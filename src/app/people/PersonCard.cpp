#include "app/people/PersonCard.h"

#include "style/Palette.h"
#include "style/Widgets.h"
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
#include <map>

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
    void setModel(const PersonCardModel& model)
    {
        if (model == model_)
            return;
        model_ = model;
        update();
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
            p.drawImage(QPointF(10, 10), symbolImage(Symbol::laptopAndPhone, 20, content));
            return;
        }
        p.setPen(content);
        p.setFont(textFont(TextStyle::headline));
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
    setToolTip(QString());

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(12);
    auto* avatar = new Avatar(model, this);
    avatar->setObjectName(QStringLiteral("avatar"));
    avatar_ = avatar;
    row->addWidget(avatar, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    title_ = plainLabel({}, TextStyle::title3, primaryText(), this, false, QFont::Bold);
    title_->setObjectName(QStringLiteral("personName"));
    texts->addWidget(title_);
    subtitle_ = plainLabel({}, TextStyle::caption, secondaryText(), this);
    subtitle_->setObjectName(QStringLiteral("personSubtitle"));
    texts->addWidget(subtitle_);
    row->addLayout(texts, 1);

    chevron_ = new SymbolView(Symbol::chevronDown, secondaryText(), 14, this);
    chevron_->setObjectName(QStringLiteral("chevron"));
    row->addWidget(chevron_, 0, Qt::AlignVCenter);

    // Clicks anywhere on the header, between its parts too, reach the button.
    for (QWidget* child : findChildren<QWidget*>())
        child->setAttribute(Qt::WA_TransparentForMouseEvents);
    setModel(model);
}

void PersonCardHeader::setModel(const PersonCardModel& model)
{
    setAccessibleName(QString::fromStdString(model.name));
    setAccessibleDescription(QString::fromStdString(model.accessibilityHint));
    static_cast<Avatar*>(avatar_)->setModel(model);
    title_->setText(QString::fromStdString(shownName(model.name)));
    subtitle_->setText(QString::fromStdString(model.subtitle));
    setTextColour(subtitle_, model.asking() ? askingAccent() : secondaryText());
    turnChevron(model.expanded ? 180 : 0);
}

void PersonCardHeader::turnChevron(double degrees)
{
    if (chevronTurn_) {
        if (chevronTurn_->endValue().toDouble() == degrees)
            return;
        chevronTurn_->stop();
    }
    if (chevron_->rotation() == degrees)
        return;
    // Hidden, it is simply put in place; shown, it turns as the card opens or closes.
    if (!isVisible()) {
        chevron_->setRotation(degrees);
        return;
    }
    auto* turn = new QVariantAnimation(chevron_);
    turn->setObjectName(QStringLiteral("chevronTurn"));
    turn->setDuration(PersonCard::kExpandMilliseconds);
    turn->setEasingCurve(easeOut());
    turn->setStartValue(chevron_->rotation());
    turn->setEndValue(degrees);
    connect(turn, &QVariantAnimation::valueChanged, chevron_,
            [chevron = chevron_](const QVariant& value) { chevron->setRotation(value.toDouble()); });
    chevronTurn_ = turn;
    turn->start(QAbstractAnimation::DeleteWhenStopped);
}

QSize PersonCardHeader::sizeHint() const
{
    return layout() ? layout()->sizeHint() : QSize(200, 68);
}

QSize PersonCardHeader::minimumSizeHint() const
{
    return layout() ? layout()->minimumSize() : QSize(100, 68);
}

PersonCard::PersonCard(PeopleView& view, PersonCardScene scene, QWidget* parent) : QWidget(parent), view_(view)
{
    setObjectName(QStringLiteral("personCard"));
    setProperty("groupName", QString::fromStdString(scene.card.name));

    stack_ = new CardStack(this);
    stack_->setContentsMargins(0, 0, 0, 0);
    stack_->setSpacing(0);

    header_ = new PersonCardHeader(scene.card, this);
    connect(header_, &QAbstractButton::clicked, this, &PersonCard::toggle);
    place(std::move(scene));
}

void PersonCard::setScene(PersonCardScene scene)
{
    if (scene == scene_)
        return;
    header_->setModel(scene.card);
    place(std::move(scene));
    update();
}

void PersonCard::toggle()
{
    // A copy: the scene changes on the way.
    const std::string name = scene_.card.name;
    view_.toggleExpanded(name);
}

void PersonCard::place(PersonCardScene scene)
{
    const bool asking = scene.card.asking();
    if (scene.card.request)
        view_.showAge(header_->subtitle(), "Asking" + std::string(kDot), scene.card.request->at);
    else
        view_.stopAge(header_->subtitle());

    // The block of the request is made anew when the request or its answers change.
    if (block_ && scene.block != scene_.block) {
        discardWidget(block_);
        block_ = nullptr;
    }
    if (scene.block && !block_)
        block_ = new RequestBlock(view_, *scene.block, this);

    // A line per Mac, kept by its id.
    std::map<std::string, QPointer<DeviceLine>> kept;
    for (auto& line : lines_)
        if (line)
            kept.emplace(line->model().device.id, line);
    lines_.clear();
    for (const auto& model : scene.lines) {
        QPointer<DeviceLine> line;
        if (auto found = kept.find(model.device.id); found != kept.end()) {
            line = found->second;
            kept.erase(found);
            line->setModel(model);
        } else {
            line = new DeviceLine(view_, model, this);
        }
        lines_.push_back(line);
    }
    for (auto& [id, line] : kept)
        discardWidget(line);

    // The dividers and the show-more button hold nothing of their own: they are laid out anew.
    while (QLayoutItem* item = stack_->takeAt(0))
        delete item;
    for (Divider* divider : dividers_)
        discardWidget(divider);
    dividers_.clear();
    discardWidget(showMore_);
    showMore_ = nullptr;

    stack_->addWidget(header_);
    if (block_)
        stack_->addWidget(block_);
    const QColor divider = asking ? withOpacity(askingAccent(), 0.25) : withOpacity(Qt::white, 0.08);
    for (const auto& line : lines_) {
        dividers_.push_back(new Divider(divider, 14, this));
        stack_->addWidget(dividers_.back());
        stack_->addWidget(line);
    }
    if (scene.card.showMore) {
        dividers_.push_back(new Divider(withOpacity(askingAccent(), 0.25), 14, this));
        stack_->addWidget(dividers_.back());
        showMore_ = new QWidget(this);
        auto* more = plainButton(QString::fromStdString(*scene.card.showMore),
                                 textFont(TextStyle::callout, QFont::DemiBold), secondaryText(), showMore_);
        more->setObjectName(QStringLiteral("showMore"));
        auto* holderLayout = new QHBoxLayout(showMore_);
        holderLayout->setContentsMargins(14, 10, 14, 10);
        holderLayout->addWidget(more);
        holderLayout->addStretch(1);
        connect(more, &QPushButton::clicked, this, &PersonCard::toggle);
        stack_->addWidget(showMore_);
    }
    // Parts made while the card shows appear at once: the card's height counts them now.
    // Their order as children is their order on screen.
    for (int i = 0; i < stack_->count(); ++i)
        if (QWidget* part = stack_->itemAt(i)->widget()) {
            part->show();
            part->raise();
        }
    scene_ = std::move(scene);
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
    p.fillPath(shape, asking ? askingFill() : cardFill());
    if (asking) {
        QPainterPath edge;
        edge.addRoundedRect(area.adjusted(0.75, 0.75, -0.75, -0.75), 15.25, 15.25);
        p.setPen(QPen(askingAccent(), 1.5));
        p.drawPath(edge);
    }
}

} // namespace wl
