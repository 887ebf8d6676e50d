#include "platform/Notifier.h"

#include <mutex>

namespace wl {

namespace {

// Stands in until start-up installs the desktop backend.
class SilentNotifier final : public Notifier {
public:
    void post(const std::string&, const std::string&, const std::string&) override { }
};

std::mutex standardLock;
std::shared_ptr<Notifier>& standardSlot()
{
    static std::shared_ptr<Notifier> slot = std::make_shared<SilentNotifier>();
    return slot;
}

} // namespace

Notifier& Notifier::standard()
{
    std::lock_guard guard(standardLock);
    return *standardSlot();
}

void Notifier::setStandard(std::shared_ptr<Notifier> notifier)
{
    std::lock_guard guard(standardLock);
    standardSlot() = notifier ? std::move(notifier) : std::make_shared<SilentNotifier>();
}

} // namespace wl
