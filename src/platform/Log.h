#pragma once
// Diagnostic log lines. Callers write the whole line, beginning "Wickerlane: "
// (or "Wickerlane stats:", "Wickerlane ICE: state=", …). The default sink writes
// to stderr; the desktop backend (installQtLogSink) writes to stderr and the journal.

#include <functional>
#include <string>
#include <vector>

namespace wl {

namespace Log {
void line(const std::string& text);

// Replaces the sink (nullptr restores stderr). Thread-safe.
void setSink(std::function<void(const std::string&)> sink);
} // namespace Log

// Collects lines while alive; restores stderr when destroyed. For tests.
class CapturedLog {
public:
    CapturedLog();
    ~CapturedLog();
    std::vector<std::string> lines() const;
    bool contains(const std::string& fragment) const;

private:
    struct State;
    State* state_;
};

} // namespace wl
