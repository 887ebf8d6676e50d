#include "host/GuideOverlayController.h"

#include "host/GuideOverlayView.h"
#include "host/SuggestionCard.h"
#include "platform/Displays.h"
#include "platform/LocalInput.h"
#include "host/SharedDisplay.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <cmath>

namespace wl {

namespace {

// Furniture of the session: on top, on every workspace, no frame, no focus.
constexpr Qt::WindowFlags kFurniture = Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
    Qt::WindowDoesNotAcceptFocus | Qt::X11BypassWindowManagerHint;

} // namespace

GuideOverlayController::GuideOverlayController(std::shared_ptr<Displays> displays,
                                               std::shared_ptr<SharedDisplay> shared, std::shared_ptr<LocalInput> input,
                                               TimerFactory timers, QObject* parent)
    : QObject(parent), displays_(std::move(displays)), shared_(std::move(shared)), input_(std::move(input)),
      timers_(requiredTimers(std::move(timers), "GuideOverlayController"))
{
    QPointer<GuideOverlayController> self(this);
    std::weak_ptr<bool> alive = alive_;
    displaysObserver_ = displays_->addObserver([self, alive] {
        if (alive.lock() && self)
            self->followScreen();
    });
}

GuideOverlayController::~GuideOverlayController()
{
    alive_.reset();
    displays_->removeObserver(displaysObserver_);
    if (clickWatch_)
        input_->unwatch(clickWatch_);
    delete window_.data();
    delete panel_.data();
}

GuideOverlayView* GuideOverlayController::window() const
{
    return window_.data();
}

SuggestionCard* GuideOverlayController::suggestionPanel() const
{
    return panel_.data();
}

void GuideOverlayController::refresh()
{
    if (window_)
        window_->refresh(model);
}

void GuideOverlayController::show(const SessionEvent& event)
{
    if (!window_) {
        if (QScreen* screen = shared_->qscreen()) {
            auto* view = new GuideOverlayView(model);
            view->setWindowFlags(kFurniture | Qt::WindowTransparentForInput);
            view->setWindowTitle(QStringLiteral("Wickerlane guide"));
            view->setGeometry(screen->geometry());
            view->setShapedToDrawings(!displays_->blendsTranslucentWindows());
            view->present();
            window_ = view;
        }
    }
    using Kind = SessionEvent::Kind;
    switch (event.kind) {
    case Kind::pointer: model.pointer = GuideModel::Point{event.x, event.y}; break;
    case Kind::suggest: {
        GuideModel::Suggestion suggestion{nextId_++, {event.x, event.y}};
        model.suggestions = {suggestion};
        showSuggestionPanel(suggestion);
        break;
    }
    case Kind::hide: model.pointer.reset(); break;
    default: return;
    }
    refresh();
}

QPoint GuideOverlayController::cardOrigin(QPointF point, QSize card, QRect visible)
{
    double x = point.x() - card.width() / 2.0;
    if (x <= visible.left() + kCardMargin)
        x = visible.left() + kCardMargin;
    const double rightmost = visible.left() + visible.width() - card.width() - kCardMargin;
    if (rightmost < x)
        x = rightmost;
    double y = point.y() + kCardGap;
    if (y + card.height() > visible.top() + visible.height() - kCardMargin)
        y = point.y() - kCardGap - card.height();
    return QPoint(int(std::lround(x)), int(std::lround(y)));
}

void GuideOverlayController::showSuggestionPanel(const GuideModel::Suggestion& suggestion)
{
    dismissSuggestion();
    QScreen* screen = shared_->qscreen();
    if (!screen)
        return;
    QPointer<GuideOverlayController> self(this);
    const GuideModel::Point point = suggestion.point;
    SuggestionCard::Actions actions;
    actions.dismiss = [self] {
        if (!self)
            return;
        self->model.suggestions.clear();
        self->dismissSuggestion();
        self->refresh();
    };
    actions.doThisTime = [self, point] {
        if (self)
            self->answer(self->onDoIt, point);
    };
    actions.doAlways = [self, point] {
        if (self)
            self->answer(self->onDoAlways, point);
    };
    auto* card = new SuggestionCard(model.helperName, std::move(actions));
    card->setWindowFlags(kFurniture);
    card->setAttribute(Qt::WA_ShowWithoutActivating);
    card->setWindowTitle(QStringLiteral("Wickerlane suggestion"));
    card->setShapedToOutline(!displays_->blendsTranslucentWindows());
    card->adjustSize();
    panel_ = card;
    placeSuggestionPanel(screen, point);
    card->show();

    clickWatch_ = input_->watch([self](const LocalInputEvent& event) {
        if (self)
            self->ownClick(event);
    });
}

void GuideOverlayController::placeSuggestionPanel(QScreen* screen, GuideModel::Point point)
{
    if (!panel_)
        return;
    const QRect frame = screen->geometry();
    const QPointF at(frame.left() + frame.width() * point.x, frame.top() + frame.height() * point.y);
    panel_->move(cardOrigin(at, panel_->size(), screen->availableGeometry()));

    // The user's own clicks, in the root window's pixels.
    pixelRatio_ = screen->devicePixelRatio();
    if (auto display = shared_->screen())
        clickTarget_ = QPointF(display->x + display->width * point.x, display->y + display->height * point.y);
    else
        clickTarget_ = at * pixelRatio_;
}

void GuideOverlayController::followScreen()
{
    if (!window_)
        return;
    QScreen* screen = shared_->qscreen();
    if (!screen) {
        hide();
        return;
    }
    if (window_->geometry() != screen->geometry())
        window_->setGeometry(screen->geometry());
    if (panel_ && !model.suggestions.empty())
        placeSuggestionPanel(screen, model.suggestions.front().point);
    refresh();
}

void GuideOverlayController::ownClick(const LocalInputEvent& event)
{
    if (event.kind != LocalInputEvent::Kind::buttonPress || event.button != 1 || !event.x || !event.y || !panel_)
        return;
    const double distance = std::hypot(*event.x - clickTarget_.x(), *event.y - clickTarget_.y()) / pixelRatio_;
    if (distance > kOwnClickDistance)
        return;
    model.suggestions.clear();
    dismissSuggestion();
    refresh();
}

void GuideOverlayController::answer(const std::function<void(double, double)>& callback, GuideModel::Point point)
{
    auto handOn = callback;
    model.suggestions.clear();
    dismissSuggestion();
    refresh();
    // The ring and the card are gone before the click is made.
    std::erase_if(answers_, [](const auto& timer) { return !timer || !timer->isActive(); });
    answers_.push_back(timers_(kDoItDelay, [handOn, point] {
        if (handOn)
            handOn(point.x, point.y);
    }));
}

void GuideOverlayController::dismissSuggestion()
{
    if (panel_) {
        panel_->hide();
        // It may be closing from inside one of its own buttons.
        panel_->deleteLater();
        panel_ = nullptr;
    }
    if (clickWatch_) {
        input_->unwatch(clickWatch_);
        clickWatch_ = 0;
    }
    refresh();
}

void GuideOverlayController::hide()
{
    if (window_) {
        window_->hide();
        window_->deleteLater();
        window_ = nullptr;
    }
    model.pointer.reset();
    model.suggestions.clear();
    dismissSuggestion();
}

} // namespace wl
