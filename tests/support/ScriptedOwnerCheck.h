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
    const std::vector<std::string>& reasons() const { return reasons_; }
    std::size_t count() const { return reasons_.size(); }

    void check(const std::string& reason, std::function<void(bool)> done) override;

private:
    std::deque<bool> answers_;
    std::vector<std::string> reasons_;
};

} // namespace wl::test
