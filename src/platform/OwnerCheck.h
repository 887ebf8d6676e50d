#pragma once
// The device-owner check: the person at this computer proves that they own it (their
// account password, or whatever the PAM stack offers) before a received password is
// shown or copied. The desktop backend (PamOwnerCheck) asks in a small dialog that shows
// the reason and runs PAM off the main thread; tests hand in a scripted fake.

#include <functional>
#include <string>

namespace wl {

class OwnerCheck {
public:
    virtual ~OwnerCheck() = default;

    // Asks once; every call prompts again. `done` runs exactly once, on the thread that
    // called check (the main thread), with true only when the owner was confirmed. A
    // backend may let the owner try again after a wrong password; every refusal
    // (cancelled, wrong password, no way to check) answers false, and all but a cancel
    // are logged.
    virtual void check(const std::string& reason, std::function<void(bool)> done) = 0;
};

} // namespace wl
