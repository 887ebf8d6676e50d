#pragma once
// The device-owner check: the person at this computer proves that they own it (their
// account password, or whatever the PAM stack offers) before a received password is
// shown or copied. The desktop backend (PamOwnerCheck) asks in a small dialog that shows
// the reason and runs PAM off the main thread; tests install a scripted fake.

#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace wl {

class OwnerCheck {
public:
    virtual ~OwnerCheck() = default;

    // Asks once; every call prompts again. `done` runs exactly once, on the thread that
    // called check (the main thread), with true only when the owner was confirmed. A
    // backend may let the owner try again after a wrong password; every refusal
    // (cancelled, wrong password, no way to check) answers false and is logged.
    virtual void check(const std::string& reason, std::function<void(bool)> done) = 0;

    // The process-wide check. Until start-up installs the desktop backend it refuses.
    static OwnerCheck& standard();
    static void setStandard(std::shared_ptr<OwnerCheck> check);
};

namespace detail {
// Answers false and says why once in the log: no backend was installed.
class RefusingOwnerCheck final : public OwnerCheck {
public:
    void check(const std::string& reason, std::function<void(bool)> done) override;
};

inline std::mutex& ownerCheckLock()
{
    static std::mutex lock;
    return lock;
}
inline std::shared_ptr<OwnerCheck>& ownerCheckSlot()
{
    static std::shared_ptr<OwnerCheck> slot = std::make_shared<RefusingOwnerCheck>();
    return slot;
}
} // namespace detail

inline OwnerCheck& OwnerCheck::standard()
{
    std::lock_guard guard(detail::ownerCheckLock());
    return *detail::ownerCheckSlot();
}

inline void OwnerCheck::setStandard(std::shared_ptr<OwnerCheck> check)
{
    std::lock_guard guard(detail::ownerCheckLock());
    detail::ownerCheckSlot() = check ? std::move(check) : std::make_shared<detail::RefusingOwnerCheck>();
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
