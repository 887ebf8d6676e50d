#pragma once
// Watches the host's own mouse and keyboard in take-over mode (ignoring the events the
// injector posts) and reports when the user starts and stops using them. The X11
// backend comes with a later change; until then it is installed and stopped but never
// reports activity.

#include <QObject>

#include <functional>

namespace wl {

class InputInjector;

class LocalActivityMonitor final : public QObject {
    Q_OBJECT
public:
    explicit LocalActivityMonitor(InputInjector& injector, QObject* parent = nullptr)
        : QObject(parent), injector_(injector)
    {
    }

    std::function<void(bool active)> onChange;

    // Installs the watch when none is installed.
    void install() { installed_ = true; }
    void stop()
    {
        installed_ = false;
        active_ = false;
    }
    bool isInstalled() const { return installed_; }
    bool isActive() const { return active_; }
    InputInjector& injector() const { return injector_; }

private:
    InputInjector& injector_;
    bool installed_ = false;
    bool active_ = false;
};

} // namespace wl
