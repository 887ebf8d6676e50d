#pragma once
// The program's updates: an updater runs only when the program's information names an
// update feed (an address with a host) and a public signing key. A downloaded, verified
// update is installed only while the program is idle (nobody helping this computer and
// this computer helping nobody): when it becomes ready during a session, the question
// is asked again every 60 seconds until the session is over.

#include "platform/InfoDictionary.h"
#include "platform/OneShotTimer.h"
#include "platform/Updater.h"

#include <QObject>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace wl {

class Updates final : public QObject {
    Q_OBJECT
public:
    // Makes the updater for a feed and a public key.
    using MakeUpdater = std::function<std::unique_ptr<Updater>(const QUrl& feed, const std::string& publicKey)>;

    static constexpr std::chrono::milliseconds kIdleRecheck{60000};

    // info: where the feed and its key come from; timers: those of the idle re-check.
    Updates(MakeUpdater makeUpdater, std::shared_ptr<const InfoDictionary> info, TimerFactory timers,
            QObject* parent = nullptr);
    ~Updates() override;

    // Whether an update may be installed now; true until start-up replaces it.
    std::function<bool()> isIdle = [] { return true; };

    // The updater; null when updates are not configured.
    Updater* controller() const { return controller_.get(); }
    bool hasPendingInstall() const { return static_cast<bool>(install_); }
    bool waiting() const { return waitTimer_ && waitTimer_->isActive(); }

    // Reads SUFeedURL and SUPublicEDKey and makes and starts the updater when both are usable.
    void start();
    // The menus' "Check for Updates…".
    void checkForUpdates();
    // Installs the pending update now when idle, else asks again in 60 seconds.
    void installWhenIdle();
    // The updater's notice that an update is ready: the block is kept (replacing an
    // earlier one) and installed when idle. Answers true.
    bool updaterWillInstallUpdateOnQuit(std::function<void()> immediateInstallationBlock);

private:
    MakeUpdater makeUpdater_;
    std::shared_ptr<const InfoDictionary> info_;
    TimerFactory timers_;
    std::unique_ptr<Updater> controller_;
    std::function<void()> install_;
    std::unique_ptr<OneShotTimer> waitTimer_;
};

} // namespace wl
