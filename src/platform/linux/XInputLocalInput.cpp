#include "platform/linux/XInputLocalInput.h"

#include "platform/Log.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>

#include <cstring>
#include <string_view>
#include <vector>

namespace wl {

namespace {

bool endsWith(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Whether a device is one of the X server's XTEST devices.
bool isXTestDevice(::Display* display, const XIDeviceInfo& device)
{
    Atom property = XInternAtom(display, "XTEST Device", True);
    if (property != None) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XIGetProperty(display, device.deviceid, property, 0, 1, False, AnyPropertyType, &type, &format, &count,
                          &after, &data) == Success) {
            if (data)
                XFree(data);
            if (type != None)
                return true;
        }
    }
    const std::string_view name = device.name ? device.name : "";
    return endsWith(name, "XTEST pointer") || endsWith(name, "XTEST keyboard");
}

} // namespace

XInputLocalInput::XInputLocalInput(std::string displayName) : displayName_(std::move(displayName)) { }

XInputLocalInput::~XInputLocalInput()
{
    if (notifier_)
        delete notifier_.data();
    if (display_)
        XCloseDisplay(display_);
}

bool XInputLocalInput::open()
{
    if (display_)
        return true;
    if (triedToOpen_)
        return false;
    triedToOpen_ = true;
    display_ = XOpenDisplay(displayName_.empty() ? nullptr : displayName_.c_str());
    if (!display_) {
        Log::line("Wickerlane: cannot open the X display; the user's own input can't be watched");
        return false;
    }
    int event = 0, error = 0, major = 2, minor = 2;
    if (!XQueryExtension(display_, "XInputExtension", &opcode_, &event, &error) ||
        XIQueryVersion(display_, &major, &minor) != Success || major < 2) {
        Log::line("Wickerlane: the X server has no XInput 2; the user's own input can't be watched");
        XCloseDisplay(display_);
        display_ = nullptr;
        return false;
    }
    // Device changes are followed for as long as the connection is open.
    unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(mask, XI_HierarchyChanged);
    XIEventMask hierarchy{XIAllDevices, int(sizeof mask), mask};
    XISelectEvents(display_, DefaultRootWindow(display_), &hierarchy, 1);
    findPostingDevices();
    // The notifier goes with the application object, which may end before this.
    notifier_ = new QSocketNotifier(ConnectionNumber(display_), QSocketNotifier::Read, QCoreApplication::instance());
    connect(notifier_, &QSocketNotifier::activated, this, [this] { readEvents(); });
    XFlush(display_);
    return true;
}

void XInputLocalInput::findPostingDevices()
{
    postingDevices_.clear();
    // The masters a connection posts through by default, and their XTEST slaves.
    int pointer = 0;
    if (!XIGetClientPointer(display_, None, &pointer))
        pointer = 2;
    int count = 0;
    XIDeviceInfo* devices = XIQueryDevice(display_, XIAllDevices, &count);
    int keyboard = 0;
    for (int i = 0; i < count; ++i)
        if (devices[i].deviceid == pointer)
            keyboard = devices[i].attachment;
    for (int i = 0; i < count; ++i) {
        const XIDeviceInfo& device = devices[i];
        const bool slave = device.use == XISlavePointer || device.use == XISlaveKeyboard;
        if (slave && (device.attachment == pointer || device.attachment == keyboard) && isXTestDevice(display_, device))
            postingDevices_.insert(device.deviceid);
    }
    if (devices)
        XIFreeDeviceInfo(devices);
}

void XInputLocalInput::select(bool on)
{
    if (selected_ == on || !display_)
        return;
    selected_ = on;
    unsigned char mask[XIMaskLen(XI_LASTEVENT)] = {};
    if (on) {
        XISetMask(mask, XI_RawMotion);
        XISetMask(mask, XI_RawButtonPress);
        XISetMask(mask, XI_RawKeyPress);
    }
    XIEventMask raw{XIAllMasterDevices, int(sizeof mask), mask};
    XISelectEvents(display_, DefaultRootWindow(display_), &raw, 1);
    // Once this returns the server has the selection: the user's next event counts.
    XSync(display_, False);
    // Events Xlib read off the socket meanwhile wake no notifier: look at them soon.
    QMetaObject::invokeMethod(
        this, [this] { readEvents(); }, Qt::QueuedConnection);
}

int XInputLocalInput::watch(std::function<void(const LocalInputEvent&)> handler)
{
    if (!open())
        return 0;
    const int token = nextToken_++;
    handlers_[token] = std::move(handler);
    select(true);
    // Events Xlib already read off the socket wake no notifier: look at them soon.
    QMetaObject::invokeMethod(
        this, [this] { readEvents(); }, Qt::QueuedConnection);
    return token;
}

void XInputLocalInput::unwatch(int token)
{
    handlers_.erase(token);
    if (handlers_.empty())
        select(false);
}

void XInputLocalInput::deliver(const LocalInputEvent& event)
{
    // A handler may stop watching (its own or another's) while it runs.
    std::vector<int> tokens;
    for (const auto& [token, handler] : handlers_)
        tokens.push_back(token);
    for (int token : tokens) {
        auto found = handlers_.find(token);
        if (found == handlers_.end())
            continue;
        auto handler = found->second;
        handler(event);
    }
}

void XInputLocalInput::queryPointer(int device, LocalInputEvent& event)
{
    Window root = None, child = None;
    double rootX = 0, rootY = 0, winX = 0, winY = 0;
    XIButtonState buttons{};
    XIModifierState modifiers{};
    XIGroupState group{};
    if (XIQueryPointer(display_, device, DefaultRootWindow(display_), &root, &child, &rootX, &rootY, &winX, &winY,
                       &buttons, &modifiers, &group)) {
        event.x = rootX;
        event.y = rootY;
        // Bits 1 to 31 of the mask: buttons 1 to 31.
        for (int button = 1; button < 32 && button < buttons.mask_len * 8; ++button)
            if (XIMaskIsSet(buttons.mask, button))
                event.buttonsHeld |= 1u << button;
    }
    if (buttons.mask)
        XFree(buttons.mask);
}

bool XInputLocalInput::isModifier(int keycode)
{
    if (keycode < 8 || keycode > 255)
        return false;
    const KeySym keysym = XkbKeycodeToKeysym(display_, KeyCode(keycode), 0, 0);
    return keysym != NoSymbol && IsModifierKey(keysym);
}

void XInputLocalInput::readEvents()
{
    if (!display_)
        return;
    std::vector<LocalInputEvent> events;
    bool moved = false;
    while (XPending(display_) > 0) {
        XEvent event;
        XNextEvent(display_, &event);
        XGenericEventCookie* cookie = &event.xcookie;
        if (cookie->type != GenericEvent || cookie->extension != opcode_ || !XGetEventData(display_, cookie))
            continue;
        if (cookie->evtype == XI_HierarchyChanged) {
            findPostingDevices();
        } else if (selected_ &&
                   (cookie->evtype == XI_RawMotion || cookie->evtype == XI_RawButtonPress ||
                    cookie->evtype == XI_RawKeyPress)) {
            const auto* raw = static_cast<const XIRawEvent*>(cookie->data);
            if (!postingDevices_.contains(raw->sourceid)) {
                LocalInputEvent local;
                if (cookie->evtype == XI_RawMotion) {
                    local.kind = LocalInputEvent::Kind::pointerMotion;
                    if (moved) {
                        XFreeEventData(display_, cookie);
                        continue;
                    }
                    moved = true;
                    queryPointer(raw->deviceid, local);
                } else if (cookie->evtype == XI_RawKeyPress) {
                    local.kind = LocalInputEvent::Kind::keyPress;
                    local.modifierKey = isModifier(raw->detail);
                } else {
                    local.kind = LocalInputEvent::Kind::buttonPress;
                    local.button = raw->detail;
                    queryPointer(raw->deviceid, local);
                }
                events.push_back(local);
            }
        }
        XFreeEventData(display_, cookie);
    }
    for (const auto& event : events)
        deliver(event);
}

} // namespace wl
