#pragma once
// The device-owner check: the person at this computer proves that they own it (their
// account password, or whatever the PAM stack offers) before a received password is
// shown or copied. The desktop backend (PamOwnerCheck) asks in a small dialog that shows
// the reason and runs PAM off the main thread; tests hand in a scripted fake.

#include <functional>
#include <memory>
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

    // The safe stand-in: it refuses, and says why in the log.
    static std::shared_ptr<OwnerCheck> none();
};

namespace detail {
// Answers false and says why in the log: no backend was chosen.
class RefusingOwnerCheck final : public OwnerCheck {
public:
    void check(const std::string& reason, std::function<void(bool)> done) override;
};

} // namespace detail

inline std::shared_ptr<OwnerCheck> OwnerCheck::none()
{
    return std::make_shared<detail::RefusingOwnerCheck>();
}

} // namespace wl

#include "platform/Log.h"

namespace wl::detail {
inline void RefusingOwnerCheck::check(const std::string&, std::function<void(bool)> done)
{
    Log::line("Wickerlane: can't confirm the owner: no owner check is available");
    if (done)
        done(false);
}
} // namespace wl::detail
