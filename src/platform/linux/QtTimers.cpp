#include "platform/linux/QtTimers.h"

#include <QPointer>
#include <QTimer>

namespace wl {

namespace {

class QtOneShotTimer final : public OneShotTimer {
public:
    QtOneShotTimer(std::chrono::milliseconds delay, std::function<void()> fire)
    {
        timer_ = new QTimer;
        timer_->setSingleShot(true);
        timer_->setTimerType(Qt::PreciseTimer);
        auto* timer = timer_.data();
        QObject::connect(timer_, &QTimer::timeout, timer_, [timer, fire = std::move(fire)] {
            // The callback may destroy this timer object; keep the function alive.
            auto keep = fire;
            Q_UNUSED(timer);
            if (keep)
                keep();
        });
        timer_->start(delay);
    }

    ~QtOneShotTimer() override
    {
        if (timer_) {
            timer_->stop();
            timer_->deleteLater();
        }
    }

    void cancel() override
    {
        if (timer_)
            timer_->stop();
    }

    bool isActive() const override { return timer_ && timer_->isActive(); }

private:
    QPointer<QTimer> timer_;
};

} // namespace

TimerFactory qtTimerFactory()
{
    return [](std::chrono::milliseconds delay, std::function<void()> fire) -> std::unique_ptr<OneShotTimer> {
        return std::make_unique<QtOneShotTimer>(delay, std::move(fire));
    };
}

} // namespace wl
