#include "XInputProbe.h"

#include <QCoreApplication>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/cursorfont.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>

#include <cstring>
#include <thread>

namespace wl::test {

namespace {
constexpr const char* kMasterName = "wickerlane-test-user";
}

XEventProbe::XEventProbe(const std::string& display, int x, int y, int width, int height, std::uint32_t rgb)
{
    display_ = XOpenDisplay(display.empty() ? nullptr : display.c_str());
    if (!display_)
        return;
    int event = 0, error = 0, major = 2, minor = 2;
    if (!XQueryExtension(display_, "XInputExtension", &opcode_, &event, &error) ||
        XIQueryVersion(display_, &major, &minor) != Success) {
        XCloseDisplay(display_);
        display_ = nullptr;
        return;
    }
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = rgb;
    window_ = XCreateWindow(display_, DefaultRootWindow(display_), x, y, unsigned(width), unsigned(height), 0,
                            CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
    unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(mask, XI_ButtonPress);
    XISetMask(mask, XI_ButtonRelease);
    XISetMask(mask, XI_Motion);
    XISetMask(mask, XI_KeyPress);
    XISetMask(mask, XI_KeyRelease);
    XIEventMask events{XIAllMasterDevices, int(sizeof mask), mask};
    XISelectEvents(display_, window_, &events, 1);
    XMapRaised(display_, window_);
    XSync(display_, False);
    focus();
}

XEventProbe::~XEventProbe()
{
    if (!display_)
        return;
    unsetCursor();
    XDestroyWindow(display_, window_);
    XCloseDisplay(display_);
}

void XEventProbe::focus()
{
    XSetInputFocus(display_, window_, RevertToParent, CurrentTime);
    XSync(display_, False);
}

void XEventProbe::setFontCursor(unsigned shape)
{
    unsetCursor();
    cursor_ = XCreateFontCursor(display_, shape);
    XDefineCursor(display_, window_, cursor_);
    XSync(display_, False);
}

void XEventProbe::unsetCursor()
{
    if (!cursor_)
        return;
    XUndefineCursor(display_, window_);
    XFreeCursor(display_, cursor_);
    cursor_ = 0;
    XSync(display_, False);
}

CursorPicture currentCursorPicture()
{
    CursorPicture picture;
    ::Display* dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return picture;
    if (XFixesCursorImage* image = XFixesGetCursorImage(dpy)) {
        picture.width = image->width;
        picture.height = image->height;
        picture.hotSpotX = image->xhot;
        picture.hotSpotY = image->yhot;
        for (int i = 0; i < image->width * image->height; ++i)
            picture.pixels.push_back(std::uint32_t(image->pixels[i] & 0xffffffffUL));
        XFree(image);
    }
    XCloseDisplay(dpy);
    return picture;
}

bool capsLockIsOn()
{
    ::Display* dpy = XOpenDisplay(nullptr);
    if (!dpy)
        return false;
    XkbStateRec state{};
    XkbGetState(dpy, XkbUseCoreKbd, &state);
    XCloseDisplay(dpy);
    return state.locked_mods & LockMask;
}

void XEventProbe::pump()
{
    if (!display_)
        return;
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            continue;
        }
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != opcode_ || !XGetEventData(display_, cookie))
            continue;
        const auto* device = static_cast<const XIDeviceEvent*>(cookie->data);
        ProbeEvent probe;
        probe.received = std::chrono::steady_clock::now();
        bool known = true;
        switch (cookie->evtype) {
        case XI_ButtonPress: probe.type = ProbeEvent::Type::buttonPress; break;
        case XI_ButtonRelease: probe.type = ProbeEvent::Type::buttonRelease; break;
        case XI_Motion: probe.type = ProbeEvent::Type::motion; break;
        case XI_KeyPress: probe.type = ProbeEvent::Type::keyPress; break;
        case XI_KeyRelease: probe.type = ProbeEvent::Type::keyRelease; break;
        default: known = false; break;
        }
        if (known) {
            probe.detail = device->detail;
            probe.sourceid = device->sourceid;
            probe.deviceid = device->deviceid;
            probe.rootX = device->root_x;
            probe.rootY = device->root_y;
            probe.x = device->event_x;
            probe.y = device->event_y;
            probe.modifiers = unsigned(device->mods.effective);
            for (int i = 0; i < device->buttons.mask_len * 8 && i < 32; ++i)
                if (XIMaskIsSet(device->buttons.mask, i))
                    probe.buttonMask |= 1u << i;
            if (probe.type == ProbeEvent::Type::keyPress || probe.type == ProbeEvent::Type::keyRelease)
                probe.keysym = std::uint32_t(XkbKeycodeToKeysym(display_, KeyCode(device->detail), 0, 0));
            events_.push_back(probe);
        }
        XFreeEventData(display_, cookie);
    }
}

std::vector<ProbeEvent> XEventProbe::eventsOf(ProbeEvent::Type type) const
{
    std::vector<ProbeEvent> result;
    for (const auto& event : events_)
        if (event.type == type)
            result.push_back(event);
    return result;
}

bool XEventProbe::waitFor(const std::function<bool(const std::vector<ProbeEvent>&)>& pred, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pump();
        if (pred(events_))
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        if (QCoreApplication::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::vector<int> XEventProbe::coreXTestDevices()
{
    std::vector<int> ids;
    if (!display_)
        return ids;
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(display_, XIAllDevices, &count);
    for (int i = 0; i < count; ++i) {
        const std::string name = devices[i].name ? devices[i].name : "";
        if (name == "Virtual core XTEST pointer" || name == "Virtual core XTEST keyboard")
            ids.push_back(devices[i].deviceid);
    }
    if (devices)
        XIFreeDeviceInfo(devices);
    return ids;
}

LocalUser::LocalUser(const std::string& display)
{
    display_ = XOpenDisplay(display.empty() ? nullptr : display.c_str());
    if (!display_)
        return;
    int major = 2, minor = 2;
    if (XIQueryVersion(display_, &major, &minor) != Success)
        return;
    XIAddMasterInfo add{};
    add.type = XIAddMaster;
    add.name = const_cast<char*>(kMasterName);
    add.send_core = True;
    add.enable = True;
    XIChangeHierarchy(display_, reinterpret_cast<XIAnyHierarchyChangeInfo*>(&add), 1);
    XSync(display_, False);
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(display_, XIAllMasterDevices, &count);
    const std::string pointerName = std::string(kMasterName) + " pointer";
    for (int i = 0; i < count; ++i)
        if (devices[i].name && pointerName == devices[i].name)
            pointer_ = devices[i].deviceid;
    if (devices)
        XIFreeDeviceInfo(devices);
    if (pointer_ > 0) {
        // XTest requests of this connection now go through the new master's devices.
        XISetClientPointer(display_, None, pointer_);
        XSync(display_, False);
    }
}

LocalUser::~LocalUser()
{
    if (!display_)
        return;
    if (pointer_ > 0) {
        XIRemoveMasterInfo remove{};
        remove.type = XIRemoveMaster;
        remove.deviceid = pointer_;
        remove.return_mode = XIFloating;
        XIChangeHierarchy(display_, reinterpret_cast<XIAnyHierarchyChangeInfo*>(&remove), 1);
        XSync(display_, False);
    }
    XCloseDisplay(display_);
}

void LocalUser::moveTo(int x, int y)
{
    XTestFakeMotionEvent(display_, -1, x, y, CurrentTime);
    XSync(display_, False);
}

void LocalUser::press(int button)
{
    XTestFakeButtonEvent(display_, unsigned(button), True, CurrentTime);
    XSync(display_, False);
}

void LocalUser::release(int button)
{
    XTestFakeButtonEvent(display_, unsigned(button), False, CurrentTime);
    XSync(display_, False);
}

void LocalUser::click(int button)
{
    press(button);
    release(button);
}

void LocalUser::key(unsigned keycode, bool down)
{
    XTestFakeKeyEvent(display_, keycode, down ? True : False, CurrentTime);
    XSync(display_, False);
}

} // namespace wl::test
