#pragma once
// LocalInput on XI2 raw events of the X display: raw motion, button and key presses of
// every master device, read through a QSocketNotifier on the main thread. Events whose
// source is an XTEST device of the masters that a new connection posts through (the
// "Virtual core XTEST" pointer and keyboard, which XTestInputPoster uses) are left
// out; the list follows changes of the device hierarchy. Motion is reported once per
// batch read. For a motion or a button press the server is asked where that master's
// pointer is and which buttons it holds; a key is a modifier when its unshifted keysym
// is one. Raw events are asked for only while someone watches.

#include "platform/LocalInput.h"

#include <QObject>
#include <QPointer>

#include <map>
#include <set>
#include <string>

struct _XDisplay;
class QSocketNotifier;

namespace wl {

class XInputLocalInput final : public QObject, public LocalInput {
    Q_OBJECT
public:
    // The X display to watch; the environment's ($DISPLAY) when empty.
    explicit XInputLocalInput(std::string displayName = {});
    ~XInputLocalInput() override;

    int watch(std::function<void(const LocalInputEvent&)> handler) override;
    void unwatch(int token) override;

    // The source devices left out (for diagnostics and tests).
    const std::set<int>& postingDevices() const { return postingDevices_; }

private:
    bool open();
    void select(bool on);
    void findPostingDevices();
    void readEvents();
    // Where the pointer of a master device is and which of its buttons are held.
    void queryPointer(int device, LocalInputEvent& event);
    // Whether the key's unshifted keysym is a modifier's.
    bool isModifier(int keycode);
    void deliver(const LocalInputEvent& event);

    std::string displayName_;
    _XDisplay* display_ = nullptr;
    bool triedToOpen_ = false;
    int opcode_ = 0;
    QPointer<QSocketNotifier> notifier_;
    std::set<int> postingDevices_;
    std::map<int, std::function<void(const LocalInputEvent&)>> handlers_;
    int nextToken_ = 1;
    bool selected_ = false;
};

} // namespace wl
