#include "app/Updates.h"

#include "platform/InfoDictionary.h"
#include "platform/Log.h"

#include <QPointer>

namespace wl {

Updates::Updates(MakeUpdater makeUpdater, std::shared_ptr<const InfoDictionary> info, TimerFactory timers,
                 QObject* parent)
    : QObject(parent), makeUpdater_(std::move(makeUpdater)), info_(std::move(info)),
      timers_(requiredTimers(std::move(timers), "Updates"))
{
}

Updates::~Updates() = default;

void Updates::start()
{
    if (controller_ || !makeUpdater_)
        return;
    const InfoDictionary& info = *info_;
    const QUrl feed(QString::fromStdString(info.string(InfoKey::feedURL)), QUrl::StrictMode);
    if (!feed.isValid() || feed.host().isEmpty())
        return;
    const std::string key = info.string(InfoKey::publicEDKey);
    if (key.empty())
        return;
    controller_ = makeUpdater_(feed, key);
    if (!controller_)
        return;
    QPointer<Updates> self(this);
    controller_->willInstallUpdateOnQuit = [self](std::function<void()> block) {
        return self && self->updaterWillInstallUpdateOnQuit(std::move(block));
    };
    controller_->start();
}

void Updates::checkForUpdates()
{
    if (controller_)
        controller_->checkForUpdates();
}

bool Updates::updaterWillInstallUpdateOnQuit(std::function<void()> immediateInstallationBlock)
{
    install_ = std::move(immediateInstallationBlock);
    installWhenIdle();
    return true;
}

void Updates::installWhenIdle()
{
    waitTimer_.reset();
    if (!install_)
        return;
    if (isIdle && isIdle()) {
        Log::line("Wickerlane: installing an update and reopening");
        auto block = std::move(install_);
        install_ = nullptr;
        block();
        return;
    }
    QPointer<Updates> self(this);
    waitTimer_ = timers_(kIdleRecheck, [self] {
        if (self)
            self->installWhenIdle();
    });
}

} // namespace wl
