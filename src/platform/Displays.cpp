#include "platform/Displays.h"

namespace wl {

namespace {

// The safe stand-in: no displays.
class NoDisplays final : public Displays {
public:
    std::vector<Display> list() override { return {}; }
};
} // namespace

std::uint32_t Displays::mainDisplayID()
{
    auto all = list();
    for (const auto& d : all)
        if (d.main)
            return d.id;
    return all.empty() ? 0 : all.front().id;
}

std::optional<Display> Displays::display(std::uint32_t id)
{
    for (const auto& d : list())
        if (d.id == id)
            return d;
    return std::nullopt;
}

int Displays::addObserver(std::function<void()> observer)
{
    int token;
    {
        std::lock_guard guard(observerLock_);
        token = nextToken_++;
        observers_[token] = std::move(observer);
    }
    observerAdded();
    return token;
}

void Displays::removeObserver(int token)
{
    std::lock_guard guard(observerLock_);
    observers_.erase(token);
}

void Displays::notifyObservers()
{
    std::vector<std::function<void()>> copy;
    {
        std::lock_guard guard(observerLock_);
        for (const auto& [token, observer] : observers_)
            copy.push_back(observer);
    }
    for (auto& observer : copy)
        if (observer)
            observer();
}

std::shared_ptr<Displays> Displays::none()
{
    return std::make_shared<NoDisplays>();
}

} // namespace wl
