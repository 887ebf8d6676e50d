#pragma once
// The owner check for tests: answers from a script (false when the script is empty),
// on the next turn of the event loop as the desktop backend does, and records every reason.
#include "platform/OwnerCheck.h"

#include <deque>
#include <string>
#include <vector>

namespace wl::test {

class ScriptedOwnerCheck final : public OwnerCheck {
public:
    void answer(bool confirmed) { answers_.push_back(confirmed); }
    // The next check waits for release(), as a person who takes their time does.
    void holdNext() { holdNext_ = true; }
    bool holding() const { return static_cast<bool>(held_); }
    void release();
    const std::vector<std::string>& reasons() const { return reasons_; }
    std::size_t count() const { return reasons_.size(); }

    void check(const std::string& reason, std::function<void(bool)> done) override;

private:
    std::deque<bool> answers_;
    bool holdNext_ = false;
    std::function<void()> held_;
    std::vector<std::string> reasons_;
};

} // namespace wl::test
