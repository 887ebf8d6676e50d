#pragma once
// Runs the Qt event loop until a condition holds or the time is up. Needs a
// QCoreApplication. Returns whether the condition held.
#include <functional>

namespace wl::test {

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
// Runs the event loop for the given time (use sparingly: only to show that
// something does NOT happen).
void processEventsFor(int milliseconds);

} // namespace wl::test
