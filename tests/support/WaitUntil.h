#pragma once
// Runs the Qt event loop until a condition holds or the time is up. Needs a
// QCoreApplication. Returns whether the condition held.
#include <functional>

namespace wl::test {

bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 5000);
// Runs the event loop until everything queued before the call has run: queued calls,
// zero-time timers and deferred deletions. For a step that needs what the code takes up
// "on the next turn of the event loop", or a marker before showing that nothing happened.
bool waitForNextTurn(int timeoutMs = 5000);
// Runs the event loop for the given time (use sparingly: only to show that
// something does NOT happen).
void processEventsFor(int milliseconds);

} // namespace wl::test
