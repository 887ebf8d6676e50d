#pragma once
// Shared pieces of the media benchmarks: a private Xvfb of a given size, percentiles.
#include <string>
#include <sys/types.h>
#include <vector>

namespace wl::bench {

// Starts Xvfb at width x height on a free display and points DISPLAY at it.
class Xvfb {
public:
    Xvfb(int width, int height);
    ~Xvfb();
    bool ok() const { return ok_; }

private:
    pid_t pid_ = -1;
    bool ok_ = false;
    std::string previous_;
};

double percentile(std::vector<double> values, double p);

} // namespace wl::bench
