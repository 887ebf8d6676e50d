// Memory across sessions and through a long one, between two running programs (the
// test build, the real service on 127.0.0.1): N sessions one after the other, then one
// long session, the host's 1920x1080 screen changing and the helper's pointer moving all
// the while. Printed for both sides: RSS, live memory (bytes in use by malloc), threads
// and open descriptors after each session and each minute of the long one, and the fitted
// growth. Bounds: the host's and the helper's RSS after the last session within 50 MB of
// their RSS after the 5th; live memory grows at most 100 kB per session after the 5th and
// at most 100 kB a minute in the long session once it has settled (its second half: in
// the first minutes the host's resolution and frame rate still adapt to the link, which
// moves its live memory by tens of megabytes), and what the long session left behind
// once it ended, a minute, at most 100 kB too. The host's RSS grows at most 0.2 MB a
// minute in the long session after its first two minutes: memory the allocator keeps
// once it is freed shows there and not in the live figure.
//
// CPU is each side's user and system time since the row before, in seconds. In the long
// session each minute also shows the frames the helper painted in it and the host's CPU
// per painted frame (ms).
//
// Usage: wl_bench_memory [sessions, default 30] [seconds per session, default 15]
//                        [minutes of the long session, default 10]
// Prints MISSED and exits non-zero when a bound is passed or a measurement failed.
// WL_BENCH_LOGS=<folder> keeps the programs' logs there.
#include "ProgramUnderTest.h"
#include "ServiceProcess.h"
#include "XScreen.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;
using wl::test::ProgramUnderTest;

constexpr int kWarmUpSessions = 5;
constexpr double kRssBoundMB = 50;
constexpr double kLivePerSessionBoundKB = 100;
constexpr double kLivePerMinuteBoundKB = 100;
constexpr double kHostRssPerMinuteBoundMB = 0.2;
constexpr int kLongSessionStartMinutes = 2; // before the host's RSS is held to its bound
constexpr auto kStill = std::chrono::seconds(4);

struct Sample {
    double cpuSeconds = 0; // user and system time so far
    double rssMB = 0;
    double liveMB = 0;
    int threads = 0;
    int descriptors = 0;
};

double liveMB(ProgramUnderTest& program)
{
    return double(program.command({{"cmd", "memory"}}).value("inUse", -1LL)) / (1024.0 * 1024.0);
}

Sample sampleOf(ProgramUnderTest& program)
{
    Sample sample;
    const std::string proc = "/proc/" + std::to_string(program.pid());
    std::ifstream status(proc + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            sample.rssMB = std::atof(line.c_str() + 6) / 1024.0;
        else if (line.rfind("Threads:", 0) == 0)
            sample.threads = std::atoi(line.c_str() + 8);
    }
    std::ifstream stat(proc + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    if (auto close = text.rfind(')'); close != std::string::npos) {
        std::istringstream fields(text.substr(close + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        for (int i = 3; fields >> field && i <= 15; ++i) {
            if (i == 14)
                utime = std::stoull(field);
            if (i == 15)
                stime = std::stoull(field);
        }
        sample.cpuSeconds = double(utime + stime) / double(sysconf(_SC_CLK_TCK));
    }
    std::error_code error;
    for (auto it = std::filesystem::directory_iterator(proc + "/fd", error);
         !error && it != std::filesystem::directory_iterator(); it.increment(error))
        ++sample.descriptors;
    sample.liveMB = liveMB(program);
    return sample;
}

// Least-squares slope of ys over xs.
double slope(const std::vector<double>& xs, const std::vector<double>& ys)
{
    const std::size_t n = xs.size();
    if (n < 2)
        return 0;
    double mx = 0, my = 0;
    for (std::size_t i = 0; i < n; ++i) {
        mx += xs[i];
        my += ys[i];
    }
    mx /= double(n);
    my /= double(n);
    double sxy = 0, sxx = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sxy += (xs[i] - mx) * (ys[i] - my);
        sxx += (xs[i] - mx) * (xs[i] - mx);
    }
    return sxx > 0 ? sxy / sxx : 0;
}

// Median of the pairwise slopes (Theil-Sen): a reading or two in another state (the host
// sends a smaller picture for a while when it runs short of CPU, which moves its live
// memory by tens of megabytes) does not move it.
double medianSlope(const std::vector<double>& xs, const std::vector<double>& ys)
{
    std::vector<double> slopes;
    for (std::size_t i = 0; i < xs.size(); ++i)
        for (std::size_t j = i + 1; j < xs.size(); ++j)
            if (xs[j] != xs[i])
                slopes.push_back((ys[j] - ys[i]) / (xs[j] - xs[i]));
    if (slopes.empty())
        return 0;
    std::sort(slopes.begin(), slopes.end());
    const std::size_t n = slopes.size();
    return n % 2 ? slopes[n / 2] : (slopes[n / 2 - 1] + slopes[n / 2]) / 2;
}

class Bench {
public:
    bool setUp()
    {
        if (!service_.start()) {
            std::fprintf(stderr, "the introduction service did not start\n");
            return false;
        }
        host_ = std::make_unique<ProgramUnderTest>("host", service_.httpUrl(), 1920, 1080);
        helper_ = std::make_unique<ProgramUnderTest>("helper", service_.httpUrl(), 1280, 720);
        if (!host_->start() || !helper_->start()) {
            std::fprintf(stderr, "the programs did not start\n");
            return false;
        }
        host_->command({{"cmd", "answerAlert"}, {"button", 0}});
        const std::string code = host_->command({{"cmd", "startPairing"}}).value("code", "");
        helper_->command({{"cmd", "pair"}, {"code", code}, {"name", ""}});
        if (!helper_->waitFor([](const json& s) { return s["viewer"].value("pairing", "") == "paired"; }, 20000)) {
            std::fprintf(stderr, "pairing failed\n");
            return false;
        }
        host_->command({{"cmd", "hideWindow"}});
        host_->command({{"cmd", "accept"}, {"on", true}});
        host_->waitFor([](const json& s) { return s["host"].value("online", false); }, 20000);

        screen_ = std::make_unique<wl::test::XScreen>(host_->display());
        if (!screen_->ok()) {
            std::fprintf(stderr, "could not open the host's display\n");
            return false;
        }
        screen_->paintPattern(1);
        screen_->sync();
        return true;
    }

    bool connect()
    {
        host_->command({{"cmd", "answerAlert"}, {"button", 0}});
        helper_->command({{"cmd", "connect"}, {"id", host_->deviceId()}, {"unattended", false}});
        return helper_->waitFor(
            [](const json& s) {
                return s["viewer"].value("phase", "") == "connected" && s["viewer"].value("framesShown", 0) > 10;
            },
            30000);
    }

    // The host's screen changes ten times a second and the helper's pointer moves.
    void busy(std::chrono::milliseconds length)
    {
        const auto until = std::chrono::steady_clock::now() + length;
        while (std::chrono::steady_clock::now() < until) {
            ++step_;
            screen_->paintPattern(100 + step_ % 500);
            screen_->sync();
            const double t = double(step_ % 100) / 100.0;
            helper_->command({{"cmd", "pointer"}, {"x", 0.1 + 0.8 * t}, {"y", 0.9 - 0.8 * t}}, 2000);
            std::this_thread::sleep_for(100ms);
        }
    }

    bool end()
    {
        helper_->command({{"cmd", "end"}});
        const bool ended = host_->waitFor(
            [](const json& s) { return !s["host"].value("inSession", true) && !s["host"].value("peer", true); }, 20000);
        // What ends with the session (threads, transports) has a moment to go.
        std::this_thread::sleep_for(2s);
        return ended;
    }

    ProgramUnderTest& host() { return *host_; }
    // How many frames the helper has painted in this session.
    long long framesShown() { return helper_->state()["viewer"].value("framesShown", 0LL); }
    ProgramUnderTest& helper() { return *helper_; }

    void keepLogs()
    {
        if (const char* folder = std::getenv("WL_BENCH_LOGS")) {
            std::ofstream(std::string(folder) + "/memory-host.log") << host_->log();
            std::ofstream(std::string(folder) + "/memory-helper.log") << helper_->log();
        }
    }

private:
    wl::test::ServiceProcess service_;
    std::unique_ptr<ProgramUnderTest> host_, helper_;
    std::unique_ptr<wl::test::XScreen> screen_;
    int step_ = 0;
};

// One row: both sides, and the CPU time each used since the row before.
void printRow(const char* label, int index, const Sample& host, const Sample& helper)
{
    static Sample lastHost, lastHelper;
    std::printf("%-8s %3d | %8.1f %8.2f %4d %4d %6.1f | %8.1f %8.2f %4d %4d %6.1f\n", label, index, host.rssMB,
                host.liveMB, host.threads, host.descriptors, host.cpuSeconds - lastHost.cpuSeconds, helper.rssMB,
                helper.liveMB, helper.threads, helper.descriptors, helper.cpuSeconds - lastHelper.cpuSeconds);
    lastHost = host;
    lastHelper = helper;
    std::fflush(stdout);
}

void printHeader(const char* label)
{
    std::printf("%-12s | %8s %8s %4s %4s %6s | %8s %8s %4s %4s %6s\n", label, "host RSS", "live", "thr", "fds", "cpu s",
                "help RSS", "live", "thr", "fds", "cpu s");
}

bool check(const char* what, double value, double bound, const char* unit)
{
    const bool met = value <= bound;
    std::printf("  %-58s %9.2f %s (bound %g): %s\n", what, value, unit, bound, met ? "met" : "MISSED");
    return met;
}

} // namespace

int main(int argc, char** argv)
{
    const int sessions = argc > 1 ? std::max(2, std::atoi(argv[1])) : 30;
    const int seconds = argc > 2 ? std::max(3, std::atoi(argv[2])) : 15;
    const int minutes = argc > 3 ? std::max(0, std::atoi(argv[3])) : 10;
    std::printf("memory: %d sessions of %d s, then one session of %d min; host 1920x1080, screen changing, helper's "
                "pointer moving, everything on 127.0.0.1\n",
                sessions, seconds, minutes);
    std::printf("RSS and live memory (bytes in use by malloc) in MB; in the long session, read after the screen has "
                "held still for %lld s\n",
                static_cast<long long>(kStill.count()));

    Bench bench;
    if (!bench.setUp()) {
        std::printf("measurement FAILED\nbenchmark FAILED\n");
        return 1;
    }
    bool failed = false;
    printHeader("before");
    printRow("start", 0, sampleOf(bench.host()), sampleOf(bench.helper()));
    printHeader("after session");
    std::vector<Sample> hostAfter, helperAfter;
    for (int i = 1; i <= sessions; ++i) {
        if (!bench.connect()) {
            std::printf("session %d did not start: measurement FAILED\n", i);
            failed = true;
            break;
        }
        bench.busy(std::chrono::seconds(seconds));
        if (!bench.end()) {
            std::printf("session %d did not end on the host: measurement FAILED\n", i);
            failed = true;
            break;
        }
        hostAfter.push_back(sampleOf(bench.host()));
        helperAfter.push_back(sampleOf(bench.helper()));
        printRow("session", i, hostAfter.back(), helperAfter.back());
    }

    std::vector<Sample> hostMinute, helperMinute;
    Sample hostEnded, helperEnded; // after the long session has ended
    if (!failed && minutes > 0) {
        printHeader("long, minute");
        const Sample hostAtStart = sampleOf(bench.host());
        if (!bench.connect()) {
            std::printf("the long session did not start: measurement FAILED\n");
            failed = true;
        } else {
            long long framesBefore = bench.framesShown();
            std::vector<double> cpuPerFrame;
            for (int m = 1; m <= minutes; ++m) {
                // The screen holds still for the last seconds of each minute: the frames in
                // flight (tens of megabytes while it changes) are through by the reading.
                bench.busy(60s - kStill);
                std::this_thread::sleep_for(kStill);
                hostMinute.push_back(sampleOf(bench.host()));
                helperMinute.push_back(sampleOf(bench.helper()));
                const double hostCpu =
                    hostMinute.back().cpuSeconds - (m > 1 ? hostMinute[m - 2].cpuSeconds : hostAtStart.cpuSeconds);
                printRow("minute", m, hostMinute.back(), helperMinute.back());
                const long long frames = bench.framesShown();
                if (frames > framesBefore) {
                    cpuPerFrame.push_back(hostCpu * 1000 / double(frames - framesBefore));
                    std::printf("           %lld frames painted (%.1f fps), host CPU %.1f ms a frame\n",
                                frames - framesBefore, double(frames - framesBefore) / 60.0, cpuPerFrame.back());
                }
                framesBefore = frames;
            }
            if (!cpuPerFrame.empty()) {
                std::sort(cpuPerFrame.begin(), cpuPerFrame.end());
                std::printf("host CPU a painted frame in the long session: median %.1f ms (minutes %.1f..%.1f)\n",
                            cpuPerFrame[cpuPerFrame.size() / 2], cpuPerFrame.front(), cpuPerFrame.back());
            }
            bench.end();
            hostEnded = sampleOf(bench.host());
            helperEnded = sampleOf(bench.helper());
            printRow("ended", minutes, hostEnded, helperEnded);
        }
    }
    bench.keepLogs();

    // Fitted growth: over the sessions after warm-up, and over the long session's minutes
    // once it has settled.
    const std::size_t warm = std::min<std::size_t>(kWarmUpSessions, hostAfter.size());
    const std::size_t settled = std::max<std::size_t>(1, std::size_t(minutes) / 2);
    std::printf("fitted growth, sessions %zu..%zu (least squares), long session minutes %zu..%d (median of pairwise "
                "slopes):\n",
                warm, hostAfter.size(), settled, minutes);
    struct SideFigures {
        const char* name;
        const std::vector<Sample>& after;
        const std::vector<Sample>& minute;
        const Sample& ended;
        bool rssBound; // RSS a minute in the long session
    };
    for (const SideFigures& side : {SideFigures{"host", hostAfter, hostMinute, hostEnded, true},
                                    SideFigures{"helper", helperAfter, helperMinute, helperEnded, false}}) {
        std::vector<double> xs, rss, live, mxs, mrss, mlive;
        for (std::size_t i = warm ? warm - 1 : 0; i < side.after.size(); ++i) {
            xs.push_back(double(i + 1));
            rss.push_back(side.after[i].rssMB);
            live.push_back(side.after[i].liveMB);
        }
        for (std::size_t m = settled - 1; m < side.minute.size(); ++m) {
            mxs.push_back(double(m + 1));
            mrss.push_back(side.minute[m].rssMB);
            mlive.push_back(side.minute[m].liveMB);
        }
        // The long session after its first minutes, RSS and live memory side by side.
        std::vector<double> lxs, lrss, llive;
        for (std::size_t m = kLongSessionStartMinutes; m < side.minute.size(); ++m) {
            lxs.push_back(double(m + 1));
            lrss.push_back(side.minute[m].rssMB);
            llive.push_back(side.minute[m].liveMB);
        }
        std::printf("%s: RSS %+.2f MB per session, live %+.1f kB per session; long session: RSS %+.2f MB a minute, "
                    "live %+.1f kB a minute; after minute %d: RSS %+.2f MB a minute, live %+.1f kB a minute\n",
                    side.name, slope(xs, rss), slope(xs, live) * 1024, medianSlope(mxs, mrss),
                    medianSlope(mxs, mlive) * 1024, kLongSessionStartMinutes, medianSlope(lxs, lrss),
                    medianSlope(lxs, llive) * 1024);
        if (side.after.size() >= 2) {
            const double rssGrowth = side.after.back().rssMB - side.after[warm - 1].rssMB;
            const std::string rssWhat =
                "RSS after session " + std::to_string(side.after.size()) + " over session " + std::to_string(warm);
            failed = !check(rssWhat.c_str(), rssGrowth, kRssBoundMB, "MB") || failed;
            failed =
                !check("live memory per session after warm-up", slope(xs, live) * 1024, kLivePerSessionBoundKB, "kB") ||
                failed;
        }
        if (side.rssBound && lxs.size() >= 2) {
            const std::string rssWhat =
                "RSS a minute in the long session after minute " + std::to_string(kLongSessionStartMinutes);
            failed = !check(rssWhat.c_str(), medianSlope(lxs, lrss), kHostRssPerMinuteBoundMB, "MB") || failed;
        }
        if (mxs.size() >= 2) {
            failed = !check("live memory a minute in the long session", medianSlope(mxs, mlive) * 1024,
                            kLivePerMinuteBoundKB, "kB") ||
                failed;
            // What the long session left behind once it ended, against before it began: between
            // sessions no frame is in flight, so this reading is steady.
            if (!side.after.empty())
                failed = !check("live memory the long session kept, a minute",
                                (side.ended.liveMB - side.after.back().liveMB) * 1024 / double(side.minute.size()),
                                kLivePerMinuteBoundKB, "kB") ||
                    failed;
        }
    }
    std::printf("benchmark %s\n", failed ? "FAILED" : "passed");
    std::fflush(stdout);
    return failed ? 1 : 0;
}
