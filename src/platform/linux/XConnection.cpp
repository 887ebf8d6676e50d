#include "platform/linux/XConnection.h"

#include "platform/Log.h"

#include <X11/Xlib.h>

#include <cstdlib>
#include <mutex>
#include <unordered_map>

namespace wl {

namespace {

// The open connections' error counts by display. Connections open and close on any
// thread, hence the lock. Never destroyed: a connection may close during the process's
// exit.
struct ErrorCounts {
    std::mutex lock;
    std::unordered_map<::Display*, std::atomic<int>*> byDisplay;
};

ErrorCounts& errorCounts()
{
    static auto* counts = new ErrorCounts;
    return *counts;
}

// Raises the count of the connection the error came from. An error of a display that
// no XConnection holds (a test's own, one being closed) is dropped, and never ends the
// process either.
int countError(::Display*, XErrorEvent* event)
{
    ErrorCounts& counts = errorCounts();
    std::lock_guard guard(counts.lock);
    if (auto found = counts.byDisplay.find(event->display); found != counts.byDisplay.end())
        ++*found->second;
    return 0;
}

void installErrorHandler()
{
    // Xlib has one error handler for the whole process, whatever the connection: this
    // one is installed once and tells the connections apart by the error's display.
    static std::once_flag installed;
    std::call_once(installed, [] { XSetErrorHandler(countError); });
}

} // namespace

std::unique_ptr<XConnection> XConnection::open(const std::string& name)
{
    installErrorHandler();
    ::Display* display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (!display)
        return nullptr;
    return std::unique_ptr<XConnection>(new XConnection(display));
}

XConnection::XConnection(::Display* display) : display_(display), owner_(std::this_thread::get_id())
{
    ErrorCounts& counts = errorCounts();
    std::lock_guard guard(counts.lock);
    counts.byDisplay[display_] = &errors_;
}

XConnection::~XConnection()
{
    {
        // Before the close: the next connection opened may get the same address.
        ErrorCounts& counts = errorCounts();
        std::lock_guard guard(counts.lock);
        counts.byDisplay.erase(display_);
    }
    XCloseDisplay(display_);
}

::Display* XConnection::display() const
{
    if (owner_.load() != std::this_thread::get_id()) {
        Log::line("Wickerlane: an X connection was used by a thread that does not own it");
        std::abort();
    }
    return display_;
}

unsigned long XConnection::root() const
{
    return DefaultRootWindow(display());
}

void XConnection::adopt()
{
    owner_ = std::this_thread::get_id();
}

bool XConnection::sync()
{
    const int before = errorCount();
    XSync(display(), False);
    return errorCount() == before;
}

int XConnection::errorCount() const
{
    return errors_.load();
}

XConnectionOnce::XConnectionOnce(std::string consequence, Check check, std::string displayName)
    : consequence_(std::move(consequence)), check_(std::move(check)), displayName_(std::move(displayName))
{
}

XConnection* XConnectionOnce::get()
{
    if (connection_ || tried_)
        return connection_.get();
    tried_ = true;
    auto connection = XConnection::open(displayName_);
    if (!connection) {
        Log::line("Wickerlane: cannot open the X display; " + consequence_);
        return nullptr;
    }
    if (check_) {
        if (std::string missing = check_(*connection); !missing.empty()) {
            Log::line("Wickerlane: the X server has no " + missing + "; " + consequence_);
            return nullptr;
        }
    }
    connection_ = std::move(connection);
    return connection_.get();
}

} // namespace wl
