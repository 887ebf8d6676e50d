#include "WaitUntil.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

namespace wl::test {

bool waitUntil(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return condition();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (!condition())
            QThread::usleep(200);
    }
    return true;
}

bool waitForNextTurn(int timeoutMs)
{
    // A queued call comes after every call queued before it; the zero-time timer it
    // starts fires after every timer started before it.
    QObject context;
    bool turned = false;
    QMetaObject::invokeMethod(
        &context, [&context, &turned] { QTimer::singleShot(0, &context, [&turned] { turned = true; }); },
        Qt::QueuedConnection);
    return waitUntil([&] { return turned; }, timeoutMs);
}

void processEventsFor(int milliseconds)
{
    QDeadlineTimer deadline(milliseconds);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::usleep(200);
    }
}

} // namespace wl::test
