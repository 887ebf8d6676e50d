#pragma once
// Local notifications: new mail, Macs coming online. Start-up chooses the desktop
// backend (org.freedesktop.Notifications on the session bus); tests hand in a
// recording fake.

#include <functional>
#include <string>

namespace wl {

class Notifier {
public:
    virtual ~Notifier() = default;

    // Called once when the messenger starts: find the notification service and listen
    // for clicks. Posting works without it.
    virtual void prepare() { }
    // Shows a notification at once, with the default sound. Nothing happens when the
    // desktop has no notification service.
    virtual void post(const std::string& title, const std::string& body, const std::string& identifier) = 0;

    // Called on the main thread with the identifier of a notification the user clicked.
    std::function<void(const std::string& identifier)> onActivated;
};

} // namespace wl
