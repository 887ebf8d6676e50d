#pragma once
// The process-wide slot of a platform interface: the installed backend, or a stand-in
// until one is installed (and again after setStandard(nullptr)). Thread-safe.

#include <memory>
#include <mutex>

namespace wl {

template <typename Interface, typename StandIn>
struct StandardSlot {
    static Interface& get()
    {
        std::lock_guard guard(lock());
        return *value();
    }
    static void set(std::shared_ptr<Interface> next)
    {
        std::lock_guard guard(lock());
        value() = next ? std::move(next) : std::make_shared<StandIn>();
    }

private:
    static std::mutex& lock()
    {
        static std::mutex m;
        return m;
    }
    static std::shared_ptr<Interface>& value()
    {
        static std::shared_ptr<Interface> v = std::make_shared<StandIn>();
        return v;
    }
};

} // namespace wl
