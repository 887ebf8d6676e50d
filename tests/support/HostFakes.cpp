#include "HostFakes.h"

namespace wl::test {

std::uint32_t RecordingPowerManagement::preventIdleSleep(const std::string& name, std::string& error)
{
    if (refuse) {
        error = "refused by the test";
        return 0;
    }
    ++taken;
    std::uint32_t handle = next_++;
    held[handle] = name;
    return handle;
}

void RecordingPowerManagement::allowIdleSleep(std::uint32_t handle)
{
    if (held.erase(handle))
        ++released;
}

void RecordingPowerManagement::watchPowerSource(std::function<void()> changed)
{
    ++watchesStarted;
    watcher_ = std::move(changed);
}

void RecordingPowerManagement::stopWatchingPowerSource()
{
    watcher_ = nullptr;
}

void RecordingPowerManagement::plugIn(bool acPower)
{
    onBattery = !acPower;
    if (auto watcher = watcher_)
        watcher();
}

} // namespace wl::test
