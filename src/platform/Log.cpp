#include "platform/Log.h"

#include <cstdio>
#include <mutex>

namespace wl {

namespace {
// One sink per process: Qt's message handler and the libraries' log callbacks, which the
// sink also serves, are process-wide themselves, and lines come from every thread.
std::mutex sinkLock;
std::function<void(const std::string&)>& sinkSlot()
{
    static std::function<void(const std::string&)> sink;
    return sink;
}
} // namespace

void Log::line(const std::string& text)
{
    std::function<void(const std::string&)> sink;
    {
        std::lock_guard guard(sinkLock);
        sink = sinkSlot();
    }
    if (sink) {
        sink(text);
        return;
    }
    std::fprintf(stderr, "%s\n", text.c_str());
}

void Log::setSink(std::function<void(const std::string&)> sink)
{
    std::lock_guard guard(sinkLock);
    sinkSlot() = std::move(sink);
}

struct CapturedLog::State {
    mutable std::mutex lock;
    std::vector<std::string> lines;
};

CapturedLog::CapturedLog() : state_(new State)
{
    State* state = state_;
    Log::setSink([state](const std::string& text) {
        std::lock_guard guard(state->lock);
        state->lines.push_back(text);
    });
}

CapturedLog::~CapturedLog()
{
    Log::setSink(nullptr);
    delete state_;
}

std::vector<std::string> CapturedLog::lines() const
{
    std::lock_guard guard(state_->lock);
    return state_->lines;
}

bool CapturedLog::contains(const std::string& fragment) const
{
    std::lock_guard guard(state_->lock);
    for (const auto& text : state_->lines)
        if (text.find(fragment) != std::string::npos)
            return true;
    return false;
}

} // namespace wl
