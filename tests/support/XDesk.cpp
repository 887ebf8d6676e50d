#include "XDesk.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace wl::test {

namespace {

bool setMonitors(const std::string& name)
{
    ::Display* dpy = XOpenDisplay(name.c_str());
    if (!dpy)
        return false;
    Window root = DefaultRootWindow(dpy);
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(dpy, root);
    bool done = false;
    if (resources && resources->noutput > 0) {
        XRRMonitorInfo* left = XRRAllocateMonitor(dpy, 1);
        left->name = XInternAtom(dpy, "LEFT", False);
        left->primary = True;
        left->x = XDesk::kLeft.x;
        left->y = XDesk::kLeft.y;
        left->width = XDesk::kLeft.width;
        left->height = XDesk::kLeft.height;
        left->mwidth = 340;
        left->mheight = 190;
        left->outputs[0] = resources->outputs[0];
        XRRSetMonitor(dpy, root, left);
        XRRMonitorInfo* right = XRRAllocateMonitor(dpy, 0);
        right->name = XInternAtom(dpy, "RIGHT", False);
        right->x = XDesk::kRight.x;
        right->y = XDesk::kRight.y;
        right->width = XDesk::kRight.width;
        right->height = XDesk::kRight.height;
        right->mwidth = 270;
        right->mheight = 200;
        XRRSetMonitor(dpy, root, right);
        XSync(dpy, False);
        XRRFreeMonitors(left);
        XRRFreeMonitors(right);
        done = true;
    }
    if (resources)
        XRRFreeScreenResources(resources);
    XCloseDisplay(dpy);
    return done;
}

// Whether a compositing manager holds the screen's selection.
bool compositing(const std::string& name)
{
    ::Display* dpy = XOpenDisplay(name.c_str());
    if (!dpy)
        return false;
    Atom selection = XInternAtom(dpy, "_NET_WM_CM_S0", False);
    const bool owned = XGetSelectionOwner(dpy, selection) != None;
    XCloseDisplay(dpy);
    return owned;
}

} // namespace

XDesk::XDesk() : xvfb_(kLeft.width + kRight.width, kRight.height, {"-noreset"})
{
    if (!xvfb_.ok() || !setMonitors(xvfb_.display()))
        return;
    const std::string display = xvfb_.display();
    std::vector<std::string> arguments = {"xcompmgr", "-d", display};
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    compositor_ = fork();
    if (compositor_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int null = ::open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execvp("xcompmgr", argv.data());
        _exit(127);
    }
    if (compositor_ < 0)
        return;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!compositing(display) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ok_ = compositing(display);
}

XDesk::~XDesk()
{
    if (compositor_ > 0) {
        kill(compositor_, SIGTERM);
        int status = 0;
        waitpid(compositor_, &status, 0);
    }
}

} // namespace wl::test
