#pragma once
// A private Xvfb for one program under test: it picks a free display itself
// (-displayfd), listens on no TCP port, does not reset when its last client leaves, and
// ends with this object (or with the test process). display() is the value for DISPLAY.
#include <string>
#include <sys/types.h>
#include <vector>

namespace wl::test {

class XvfbServer {
public:
    // extraArguments go to Xvfb after the usual ones (for example "-noreset").
    XvfbServer(int width, int height, std::vector<std::string> extraArguments = {});
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool ok() const { return !display_.empty(); }
    const std::string& display() const { return display_; }

private:
    pid_t pid_ = -1;
    std::string display_;
};

} // namespace wl::test
