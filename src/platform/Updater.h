#pragma once
// Updates of the program. An updater checks the update feed for a newer version,
// downloads it, verifies its signature and, once it is ready, asks its delegate whether
// the delegate will choose the moment of installation; the installation replaces the
// program's files and reopens the program. The desktop backend reads an appcast feed
// over HTTPS and verifies Ed25519 signatures (platform/linux/FeedUpdater); tests use it
// with a feed they serve on loopback.

#include <functional>

namespace wl {

class Updater {
public:
    virtual ~Updater() = default;

    // Starts the automatic checks: one soon after start-up, then one a day.
    virtual void start() = 0;
    // A check the user asked for; its outcome is shown to the user.
    virtual void checkForUpdates() = 0;

    // Called on the main thread when a verified update is ready, with the block that
    // installs it and reopens the program. Answering true leaves running the block to the
    // delegate; without a delegate, or when it answers false, the updater runs it at once.
    std::function<bool(std::function<void()> install)> willInstallUpdateOnQuit;
};

} // namespace wl
