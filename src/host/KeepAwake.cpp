#include "host/KeepAwake.h"

#include "platform/Log.h"
#include "platform/MainThread.h"
#include "platform/SystemServices.h"

#include <QPointer>

namespace wl {

KeepAwake::KeepAwake(std::shared_ptr<PowerManagement> power, QObject* parent)
    : QObject(parent), power_(std::move(power))
{
}

KeepAwake::~KeepAwake()
{
    if (watching_)
        power().stopWatchingPowerSource();
    if (assertion_)
        power().allowIdleSleep(assertion_);
}

PowerManagement& KeepAwake::power()
{
    return *power_;
}

void KeepAwake::start(bool wanted)
{
    assertMainThread("KeepAwake::start");
    wanted_ = wanted;
    if (wanted_ && !watching_) {
        QPointer<KeepAwake> self(this);
        power().watchPowerSource([self] {
            if (self)
                self->update();
        });
        watching_ = true;
    } else if (!wanted_ && watching_) {
        power().stopWatchingPowerSource();
        watching_ = false;
    }
    update();
}

void KeepAwake::update()
{
    assertMainThread("KeepAwake::update");
    if (wanted_ && isOnACPower()) {
        if (assertion_ != 0)
            return;
        std::string error;
        assertion_ = power().preventIdleSleep(kAssertionName, error);
        if (assertion_ == 0)
            Log::line("Wickerlane: could not keep the Mac awake (" + error + ")");
        return;
    }
    if (assertion_ != 0) {
        power().allowIdleSleep(assertion_);
        assertion_ = 0;
    }
}

bool KeepAwake::isOnACPower()
{
    return power().isOnACPower();
}

} // namespace wl
