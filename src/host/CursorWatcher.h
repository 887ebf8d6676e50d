#pragma once
// Reports the shape of the host's cursor in take-over mode, at once on start and then on
// every change. The X11 backend comes with a later change; until then it is started and
// stopped but reports nothing.

#include "protocol/SessionEvent.h"

#include <QObject>

#include <functional>

namespace wl {

class CursorWatcher final : public QObject {
    Q_OBJECT
public:
    explicit CursorWatcher(QObject* parent = nullptr) : QObject(parent) { }

    std::function<void(const CursorShape&)> onChange;

    void start() { running_ = true; }
    void stop() { running_ = false; }
    bool isRunning() const { return running_; }

private:
    bool running_ = false;
};

} // namespace wl
