#pragma once
// The main thread: where the application object lives and every class marked "Main thread
// only" runs. Needs QtCore: the plain core and the service do not include this header.
//
// assertMainThread(): the check behind "Main thread only" on a class. Called where such a
// class is made and at its busiest entry points; a call from any other thread is logged
// with the place and ends the process, since the class's state has no lock. Cheap (one
// thread-local read and a compare); without an application object there is no main
// thread to compare with, and nothing is checked.
//
// postToMainThread(): runs work on the main thread's event loop, from any thread, in the
// order posted. The work waits in a queue under a std::mutex and one plain event per item
// wakes the main thread, so everything done before posting visibly happens before the
// work runs, for readers of the code and for ThreadSanitizer alike (Qt's own queue lock
// is a futex inside Qt, which the sanitizer does not see).

#include "platform/Log.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>

#include <cstdlib>
#include <deque>
#include <functional>
#include <mutex>

namespace wl {

inline void assertMainThread(const char* where)
{
    const QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread())
        return;
    Log::line(std::string("Wickerlane: ") + where + " was used off the main thread");
    std::abort();
}

namespace detail {

class MainThreadInbox final : public QObject {
public:
    static MainThreadInbox& instance()
    {
        // One per process, as Qt has one application object and one main thread: made
        // by whichever thread posts first and handed to the main thread; it lives as long
        // as the process.
        static MainThreadInbox* inbox = [] {
            auto* made = new MainThreadInbox;
            made->moveToThread(QCoreApplication::instance()->thread());
            return made;
        }();
        return *inbox;
    }

    void post(std::function<void()> work)
    {
        {
            std::lock_guard guard(lock_);
            queue_.push_back(std::move(work));
        }
        QCoreApplication::postEvent(this, new QEvent(type_));
    }

protected:
    bool event(QEvent* event) override
    {
        // Under the lock from the start: the inbox may have been made on another thread.
        std::unique_lock guard(lock_);
        if (event->type() != type_) {
            guard.unlock();
            return QObject::event(event);
        }
        if (queue_.empty())
            return true;
        std::function<void()> work = std::move(queue_.front());
        queue_.pop_front();
        guard.unlock();
        work();
        return true;
    }

private:
    const QEvent::Type type_ = QEvent::Type(QEvent::registerEventType());
    std::mutex lock_;
    std::deque<std::function<void()>> queue_;
};

} // namespace detail

// False, and the work dropped, when there is no application object (the process is ending).
inline bool postToMainThread(std::function<void()> work)
{
    if (!QCoreApplication::instance())
        return false;
    detail::MainThreadInbox::instance().post(std::move(work));
    return true;
}

} // namespace wl
