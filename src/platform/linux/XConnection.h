#pragma once
// The program's connections to the X server through Xlib; every backend that talks to
// X opens its connection here, and only here.
//
// Threads: Xlib runs without XInitThreads, so one connection must never be used by two
// threads at once. A connection belongs to one thread: the one that opened it, or the
// one that last took it over with adopt() (for an owner that guards the connection
// with a lock of its own and is called from several threads). display() checks this on
// every call and ends the process with a log line when the rule is broken, since Xlib
// would otherwise corrupt its state without a word. A thread that needs X for itself
// (the capture thread, a screenshot's worker) opens a connection of its own.
//
// Errors: an X error (a window that went away, a refused read) never ends the process.
// Each connection counts the errors its own requests caused; a caller compares
// errorCount() before and after its requests (after XSync, see sync()). An error on
// another connection (another thread's) never shows in this one's count.

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

struct _XDisplay;

namespace wl {

class XConnection {
public:
    // The named display (the environment's $DISPLAY when empty); null when it can't be
    // opened.
    static std::unique_ptr<XConnection> open(const std::string& name = {});
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    // The Xlib display, for the owning thread only (see above).
    _XDisplay* display() const;
    // The root window of the default screen.
    unsigned long root() const;
    // The calling thread takes the connection over. Call it only while every other user
    // is kept out (under the owner's lock).
    void adopt();
    // Waits until the server has handled every request sent; true when none of them
    // caused an X error.
    bool sync();

    // The X errors this connection's requests caused so far.
    int errorCount() const;

private:
    explicit XConnection(_XDisplay* display);

    _XDisplay* display_;
    std::atomic<std::thread::id> owner_;
    // Raised by the error handler, on the thread that waits for the reply (the owner).
    std::atomic<int> errors_{0};
};

// A backend's connection, opened on first use: when the display can't be opened, or
// the server lacks what the backend needs, one log line says so and what the backend
// then can't do ("Wickerlane: cannot open the X display; <consequence>"), and it is
// not tried again.
class XConnectionOnce {
public:
    // check: run once on the fresh connection; returns what the server lacks ("XFixes
    // extension"), empty when it has everything.
    using Check = std::function<std::string(XConnection&)>;

    XConnectionOnce(std::string consequence, Check check = {}, std::string displayName = {});

    // The connection; null when it could not be had.
    XConnection* get();
    // The connection when it is open already; never opens it.
    XConnection* opened() const { return connection_.get(); }

private:
    std::string consequence_;
    Check check_;
    std::string displayName_;
    std::unique_ptr<XConnection> connection_;
    bool tried_ = false;
};

} // namespace wl
