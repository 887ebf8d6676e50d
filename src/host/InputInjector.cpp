#include "host/InputInjector.h"

#include "platform/InputPoster.h"
#include "platform/KeyTable.h"
#include "host/SharedDisplay.h"
#include "platform/MainThread.h"

#include <X11/keysym.h>

#include <cmath>
#include <limits>
#include <vector>

namespace wl {

namespace {

constexpr int kLeft = 0;
constexpr int kRight = 1;

int xButton(int button)
{
    return button == kRight ? 3 : 1;
}

// Rounded half away from zero; nullopt beyond the 32-bit signed range.
std::optional<long long> wholePixels(std::optional<double> amount)
{
    const double value = std::round(amount.value_or(0.0));
    if (!std::isfinite(value) || value < double(std::numeric_limits<std::int32_t>::min()) ||
        value > double(std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    return static_cast<long long>(value);
}

// Adds an amount to what is carried over, starting afresh when the direction turns,
// and takes out the whole clicks, at most kMaxWheelClicks; nothing is carried past
// that bound.
long long takeClicks(long long& carry, long long amount)
{
    if ((amount > 0 && carry < 0) || (amount < 0 && carry > 0))
        carry = 0;
    carry += amount;
    const long long clicks = carry / InputInjector::kPixelsPerWheelClick;
    carry -= clicks * InputInjector::kPixelsPerWheelClick;
    if (std::llabs(clicks) > InputInjector::kMaxWheelClicks) {
        carry = 0;
        return clicks > 0 ? InputInjector::kMaxWheelClicks : -InputInjector::kMaxWheelClicks;
    }
    return clicks;
}

} // namespace

InputInjector::InputInjector(std::shared_ptr<InputPoster> poster, std::shared_ptr<SharedDisplay> shared,
                             QObject* parent)
    : QObject(parent), poster_(std::move(poster)), shared_(std::move(shared))
{
}

InputPoster& InputInjector::poster() const
{
    return *poster_;
}

std::set<int> InputInjector::keysDown() const
{
    std::set<int> codes;
    for (const auto& [code, keysym] : keysDown_)
        codes.insert(code);
    return codes;
}

int InputInjector::pixelFor(double fraction, int origin, int size)
{
    if (size <= 0)
        return origin;
    const double clamped = fraction <= 0 ? 0.0 : (fraction > 1 ? 1.0 : fraction);
    // The pixel the fraction falls on; the far edge is the last pixel of the display.
    const int offset = static_cast<int>(std::floor(clamped * size + 1e-9));
    return origin + std::min(offset, size - 1);
}

bool InputInjector::moveTo(double x, double y)
{
    auto display = shared_->screen();
    if (!display)
        return false;
    lastX_ = pixelFor(x, display->x, display->width);
    lastY_ = pixelFor(y, display->y, display->height);
    poster().movePointer(lastX_, lastY_);
    return true;
}

void InputInjector::post(const SessionEvent& event)
{
    assertMainThread("InputInjector::post");
    using Kind = SessionEvent::Kind;
    switch (event.kind) {
    case Kind::mouseMove:
        // With a button held this is a drag: X sends the motion with the button's state.
        moveTo(event.x, event.y);
        return;
    case Kind::mouseDown:
    case Kind::mouseUp: {
        const int button = event.button == kRight ? kRight : kLeft;
        moveTo(event.x, event.y);
        const bool down = event.kind == Kind::mouseDown;
        if (down)
            buttonsDown_.insert(button);
        else
            buttonsDown_.erase(button);
        poster().button(xButton(button), down);
        return;
    }
    case Kind::scroll: postScroll(event); return;
    case Kind::key: postKey(event); return;
    default: return;
    }
}

void InputInjector::wheel(long long clicks, int positiveButton, int negativeButton)
{
    const int button = clicks > 0 ? positiveButton : negativeButton;
    for (long long i = 0; i < std::llabs(clicks); ++i) {
        poster().button(button, true);
        poster().button(button, false);
    }
}

void InputInjector::postScroll(const SessionEvent& event)
{
    const auto vertical = wholePixels(event.dy);
    const auto horizontal = wholePixels(event.dx);
    if (!vertical || !horizontal)
        return;
    // Positive amounts scroll up and to the left, as the helper's wheel turned.
    wheel(takeClicks(carryY_, *vertical), 4, 5);
    wheel(takeClicks(carryX_, *horizontal), 6, 7);
}

void InputInjector::postKey(const SessionEvent& event)
{
    if (!event.keyCode || !event.down)
        return;
    const int code = *event.keyCode;
    if (code < 0 || code > keys::kMaxKeyCode)
        return;
    const bool down = *event.down;
    if (code == keys::kCapsLockKey) {
        // The lock's new state: change it only when the host's differs.
        if (poster().capsLockOn() != down) {
            poster().key(XK_Caps_Lock, true);
            poster().key(XK_Caps_Lock, false);
        }
        return;
    }
    if (!down) {
        auto held = keysDown_.find(code);
        std::uint32_t keysym = 0;
        if (held != keysDown_.end()) {
            keysym = held->second;
            keysDown_.erase(held);
        } else {
            auto keysyms = keys::keysymsForKeyCode(code);
            if (keysyms.empty())
                return;
            keysym = keysyms.front();
            for (auto candidate : keysyms)
                if (poster().hasKeysym(candidate)) {
                    keysym = candidate;
                    break;
                }
        }
        poster().key(keysym, false);
        return;
    }

    const auto keysyms = keys::keysymsForKeyCode(code);
    if (keysyms.empty())
        return;
    std::uint32_t keysym = keysyms.front();
    for (auto candidate : keysyms)
        if (poster().hasKeysym(candidate)) {
            keysym = candidate;
            break;
        }

    // The modifiers the event's flags ask for and no held key gives.
    std::vector<std::uint32_t> added;
    if (!keys::isModifierKey(code)) {
        const std::uint64_t flags = keys::modifierFlags(event.flags.value_or(0));
        for (const auto& modifier : keys::pressableModifiers()) {
            if (!(flags & modifier.flag))
                continue;
            bool held = false;
            for (const auto& [heldCode, heldKeysym] : keysDown_)
                held = held || keys::modifierFlagForKeyCode(heldCode) == modifier.flag;
            if (held)
                continue;
            const auto modifierKeysyms = keys::keysymsForKeyCode(modifier.code);
            if (!modifierKeysyms.empty() && poster().key(modifierKeysyms.front(), true))
                added.push_back(modifierKeysyms.front());
        }
    }
    keysDown_[code] = keysym;
    poster().key(keysym, true);
    for (auto it = added.rbegin(); it != added.rend(); ++it)
        poster().key(*it, false);
}

void InputInjector::releaseAll()
{
    assertMainThread("InputInjector::releaseAll");
    for (int button : buttonsDown_)
        poster().button(xButton(button), false);
    buttonsDown_.clear();
    for (const auto& [code, keysym] : keysDown_)
        poster().key(keysym, false);
    keysDown_.clear();
}

} // namespace wl
