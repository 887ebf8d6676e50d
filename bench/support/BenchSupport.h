#pragma once
// Shared pieces of the media benchmarks: a private Xvfb of a given size, percentiles, and
// how a benchmark ends when a run fails.
#include <string>
#include <sys/types.h>
#include <vector>

namespace wl::bench {

// Starts Xvfb at width x height on a free display and points DISPLAY at it. When it
// cannot, ok() is false and error() says why.
class Xvfb {
public:
    Xvfb(int width, int height);
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }

private:
    void fail(const std::string& why);

    pid_t pid_ = -1;
    bool ok_ = false;
    std::string error_;
    std::string previous_;
    int log_ = -1; // Xvfb's messages
    void* probe_ = nullptr; // a connection held open while the server runs
};

double percentile(std::vector<double> values, double p);

// The median and 95th percentile of a run's measurements, how many there were and how
// many could not be made.
struct Figures {
    double p50 = 0, p95 = 0;
    int samples = 0, missed = 0;
};
Figures figuresOf(const std::vector<double>& values, int missed);

// Keeps the program's log lines (the benchmarks silence them) so a failed run can show
// the last few; install once at the start.
void keepLogLines();
std::string lastLogLines(int count = 20);

// A run that failed: prints "FAILED: <why>" (and the last log lines) to stderr, removes
// the files named to removeOnFailure and ends the benchmark with exit status 2. A
// benchmark never reports a failed run as a result.
[[noreturn]] void failRun(const std::string& why);
void removeOnFailure(const std::string& path);

} // namespace wl::bench
