// Glass to glass through the two running programs: a pixel change on the host's Xvfb
// to the helper's painted picture, p50 and p95 at 1280x720 and 1920x1080, printed
// beside the library-level figure (the same capture, codec, encodings and peers in one
// process) measured in the same run. The two stand side by side at each size and take
// turns in blocks of changes (in the order A B B A ...), so that a busy moment of the
// machine weighs on both alike. Targets: the programs add at most 15% over the library
// figure, and p95 at 1920x1080 is at most 80 ms. Also: the host's CPU time per second
// of session at 1920x1080, and the bytes per second the host sends while its screen
// doesn't change (target under 50 kbit/s).
//
// Usage: wl_bench_programs [changes per size and side, default 120]. Exits non-zero
// when a target is missed or a measurement could not be made. WL_BENCH_VERBOSE=1
// prints every change; WL_BENCH_LOGS=<folder> keeps the programs' logs there.
#include "BenchSupport.h"
#include "LoopbackPeers.h"
#include "ProgramUnderTest.h"
#include "ServiceProcess.h"
#include "XScreen.h"

#include "TestMediaEngine.h"
#include "media/ScreenCapturer.h"
#include "platform/CaptureExclusion.h"
#include "media/SenderEncodings.h"
#include "platform/Defaults.h"
#include "platform/Log.h"
#include "platform/linux/X11ScreenSource.h"

#include <api/video/i420_buffer.h>
#include <rtc_base/time_utils.h>

#include <QCoreApplication>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <thread>
#include <vector>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using json = nlohmann::json;

using wl::bench::Figures;
using wl::bench::figuresOf;

bool verbose()
{
    return std::getenv("WL_BENCH_VERBOSE") != nullptr;
}

// The marker: 10%–20% of the width and height; both sides watch 12%–18%.
struct Marker {
    int x, y, w, h;
    static Marker of(int width, int height) { return {width / 10, height / 10, width / 10, height / 10}; }
};

double markerLuma(const webrtc::VideoFrame& frame)
{
    auto i420 = frame.video_frame_buffer()->ToI420();
    int x0 = i420->width() * 12 / 100, x1 = i420->width() * 18 / 100;
    int y0 = i420->height() * 12 / 100, y1 = i420->height() * 18 / 100;
    double total = 0;
    int n = 0;
    for (int y = y0; y < y1; y += 4)
        for (int x = x0; x < x1; x += 4, ++n)
            total += i420->DataY()[y * i420->StrideY() + x];
    return n ? total / n : 0;
}

// The still picture the changes start from: a pattern with a dark marker.
void showStill(wl::test::XScreen& screen, const Marker& m)
{
    screen.paintPattern(3);
    screen.fill(m.x, m.y, m.w, m.h, {0, 0, 0});
    screen.sync();
}

// Moves the whole screen for a while, so that the bandwidth estimate ramps up (a still
// screen sends nothing), then leaves the pattern with a dark marker.
void warmUp(wl::test::XScreen& screen, const Marker& m)
{
    for (int i = 0; i < 40; ++i) {
        screen.paintPattern(100 + i);
        screen.sync();
        std::this_thread::sleep_for(100ms);
    }
    showStill(screen, m);
}

// One side of the comparison: changes its marker and says how long until it was seen.
class Side {
public:
    virtual ~Side() = default;
    virtual bool ready() const = 0;
    // The marker turns white (bright) or black; its latency in ms, or nothing when it
    // wasn't seen in time.
    virtual std::optional<double> change(bool bright) = 0;
};

// The library-level figure: our capture and H.265 path through two peer connections in
// this process, with the host's encodings.
class LibrarySide final : public Side {
public:
    LibrarySide(int width, int height) : xvfb_(width, height), marker_(Marker::of(width, height))
    {
        if (!xvfb_.ok()) {
            std::fprintf(stderr, "library side: could not start Xvfb\n");
            return;
        }
        // The server may take a moment to accept its first client.
        for (int attempt = 0; attempt < 40 && !(screen_ && screen_->ok()); ++attempt) {
            if (attempt)
                std::this_thread::sleep_for(50ms);
            screen_ = std::make_unique<wl::test::XScreen>();
        }
        if (!screen_->ok()) {
            std::fprintf(stderr, "library side: could not open the display\n");
            return;
        }
        showStill(*screen_, marker_);
        source_ = wl::ScreenVideoSource::create();
        capturer_ = std::make_unique<wl::ScreenCapturer>(source_, std::make_unique<wl::X11ScreenSource>(),
                                                         std::make_shared<wl::CaptureExclusion>(),
                                                         std::make_shared<wl::FramePool>(), feedback_);
        std::promise<void> started;
        capturer_->start(0, false, [&] { started.set_value(); });
        started.get_future().wait();
        peers_ = std::make_unique<wl::test::LoopbackPeers>(wl::test::loopbackEngine(), source_, feedback_, "H265");
        if (!peers_->connect()) {
            std::fprintf(stderr, "library side: the peers did not connect\n");
            return;
        }
        // The host's encodings (bitrate range, no degradation), so that both sides send
        // the same pictures at the same quality.
        for (const auto& sender : peers_->sender()->GetSenders())
            if (sender->media_type() == cricket::MEDIA_TYPE_VIDEO)
                wl::configureScreenEncodings(*sender);
        peers_->sink().setOnFrame([this](const webrtc::VideoFrame& frame, int64_t now) { seen(frame, now); });
        warmUp(*screen_, marker_);
        ready_ = true;
    }

    ~LibrarySide() override
    {
        if (peers_)
            peers_->sink().setOnFrame(nullptr);
        if (capturer_)
            capturer_->stop(capturer_->takeStream());
    }

    bool ready() const override { return ready_; }

    std::optional<double> change(bool bright) override
    {
        {
            std::lock_guard guard(lock_);
            wantBright_ = bright;
        }
        const uint8_t v = bright ? 255 : 0;
        screen_->fill(marker_.x, marker_.y, marker_.w, marker_.h, {v, v, v});
        screen_->sync();
        {
            std::lock_guard guard(lock_);
            changedAt_ = rtc::TimeMicros();
            pending_ = true;
        }
        std::unique_lock guard(lock_);
        const bool wasSeen = seen_.wait_for(guard, 1s, [&] { return !pending_; });
        pending_ = false;
        if (verbose())
            std::fprintf(stderr, "library change at %lld (%s): %s\n", (long long)changedAt_ * 1000,
                         bright ? "bright" : "dark", wasSeen ? std::to_string(latencyMs_).c_str() : "missed");
        if (!wasSeen)
            return std::nullopt;
        return latencyMs_;
    }

private:
    void seen(const webrtc::VideoFrame& frame, int64_t now)
    {
        {
            std::lock_guard guard(lock_);
            if (!pending_)
                return;
        }
        const double luma = markerLuma(frame);
        std::lock_guard guard(lock_);
        if (pending_ && (wantBright_ ? luma > 200 : luma < 55)) {
            latencyMs_ = double(now - changedAt_) / 1000.0;
            pending_ = false;
            seen_.notify_all();
        }
    }

    wl::bench::Xvfb xvfb_;
    const Marker marker_;
    std::unique_ptr<wl::test::XScreen> screen_;
    rtc::scoped_refptr<wl::ScreenVideoSource> source_;
    std::shared_ptr<wl::VideoFeedback> feedback_ = std::make_shared<wl::VideoFeedback>();
    std::unique_ptr<wl::ScreenCapturer> capturer_;
    std::unique_ptr<wl::test::LoopbackPeers> peers_;
    bool ready_ = false;

    std::mutex lock_;
    std::condition_variable seen_;
    bool pending_ = false, wantBright_ = false;
    int64_t changedAt_ = 0;
    double latencyMs_ = 0;
};

// CPU seconds (user + system) the process has used so far.
double cpuSeconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

// Two running programs: paired, the host accepting, the helper connected and watching.
class ProgramSide final : public Side {
public:
    ProgramSide(int width, int height)
        : height_(height), marker_(Marker::of(width, height)), host_("host", url(), width, height),
          helper_("helper", url(), 1920, 1080)
    {
        if (!serviceOk_) {
            std::fprintf(stderr, "the introduction service did not start\n");
            return;
        }
        if (!host_.start() || !helper_.start()) {
            std::fprintf(stderr, "the programs did not start\n");
            return;
        }
        host_.command({{"cmd", "answerAlert"}, {"button", 0}});
        const std::string code = host_.command({{"cmd", "startPairing"}}).value("code", "");
        helper_.command({{"cmd", "pair"}, {"code", code}, {"name", ""}});
        if (!helper_.waitFor([](const json& s) { return s["viewer"].value("pairing", "") == "paired"; }, 20000)) {
            std::fprintf(stderr, "pairing failed\n");
            return;
        }
        host_.command({{"cmd", "hideWindow"}}); // the host's screen is the test's picture only
        host_.command({{"cmd", "accept"}, {"on", true}});
        host_.waitFor([](const json& s) { return s["host"].value("online", false); }, 20000);

        screen_ = std::make_unique<wl::test::XScreen>(host_.display());
        if (!screen_->ok()) {
            std::fprintf(stderr, "could not open the host's display\n");
            return;
        }
        showStill(*screen_, marker_);

        host_.command({{"cmd", "answerAlert"}, {"button", 0}});
        helper_.command({{"cmd", "connect"}, {"id", host_.deviceId()}, {"unattended", false}});
        if (!helper_.waitFor(
                [](const json& s) {
                    return s["viewer"].value("phase", "") == "connected" && s["viewer"].value("framesShown", 0) > 10;
                },
                30000)) {
            std::fprintf(stderr, "the session did not start\n");
            return;
        }
        warmUp(*screen_, marker_);
        ready_ = true;
    }

    ~ProgramSide() override
    {
        if (ready_)
            helper_.command({{"cmd", "end"}});
    }

    bool ready() const override { return ready_; }

    std::optional<double> change(bool bright) override
    {
        helper_.sendCommand({{"cmd", "watchMarker"},
                             {"x0", 0.12},
                             {"y0", 0.12},
                             {"x1", 0.18},
                             {"y1", 0.18},
                             {"bright", bright},
                             {"timeoutMs", 1000}});
        // The helper answers the next line only after it has read this one: the watch is
        // in place then.
        helper_.command({{"cmd", "state"}});
        const double cpuBefore = cpuSeconds(host_.pid());
        const auto before = std::chrono::steady_clock::now();
        const uint8_t v = bright ? 255 : 0;
        screen_->fill(marker_.x, marker_.y, marker_.w, marker_.h, {v, v, v});
        screen_->sync();
        const auto changedAt = std::chrono::steady_clock::now().time_since_epoch();
        json answer = helper_.readAnswer(3000);
        cpu_ += cpuSeconds(host_.pid()) - cpuBefore;
        wall_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
        const long long changed = std::chrono::duration_cast<std::chrono::nanoseconds>(changedAt).count();
        if (verbose())
            std::fprintf(stderr, "program change at %lld (%s): %s\n", changed, bright ? "bright" : "dark",
                         answer.dump().c_str());
        if (!answer.contains("seenAt"))
            return std::nullopt;
        return double(answer["seenAt"].get<long long>() - changed) / 1e6;
    }

    // The host's CPU time per second while its marker changed and was watched.
    double cpuPerSecond() const { return wall_ > 0 ? cpu_ / wall_ : 0; }

    // What the host sends on a still screen, as the helper's transports receive it
    // (kbit/s), or -1 when it couldn't be read.
    double stillKbitPerSecond()
    {
        std::this_thread::sleep_for(3s);
        json first = helper_.command({{"cmd", "bytes"}});
        const auto from = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(10s);
        json second = helper_.command({{"cmd", "bytes"}});
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
        auto rate = [&](const char* key) {
            return double(second.value(key, 0LL) - first.value(key, 0LL)) * 8 / 1000 / seconds;
        };
        if (!first.contains("received") || !second.contains("received"))
            return -1;
        std::printf("           still screen at %dp: %.1f kbit/s in all, of which video %.1f, sound %.1f "
                    "(payload and headers)\n",
                    height_, rate("received"), rate("video"), rate("audio"));
        return rate("received");
    }

    // With WL_BENCH_LOGS, both programs' logs so far (the still screen's too, once measured).
    void saveLogs()
    {
        if (const char* folder = std::getenv("WL_BENCH_LOGS")) {
            std::ofstream(std::string(folder) + "/host-" + std::to_string(height_) + ".log") << host_.log();
            std::ofstream(std::string(folder) + "/helper-" + std::to_string(height_) + ".log") << helper_.log();
        }
    }

    // What the host's adaptation did.
    void report()
    {
        std::istringstream lines(host_.log());
        for (std::string line; std::getline(lines, line);)
            if (line.find("Wickerlane: resolution scale") != std::string::npos ||
                line.find("Wickerlane: frame rate ceiling") != std::string::npos)
                std::printf("           host: %s\n", line.c_str());
    }

private:
    // The service is a member made before the programs: its address is known once it runs.
    std::string url()
    {
        if (!serviceStarted_) {
            serviceStarted_ = true;
            serviceOk_ = service_.start();
        }
        return service_.httpUrl();
    }

    const int height_;
    const Marker marker_;
    bool serviceStarted_ = false, serviceOk_ = false;
    wl::test::ServiceProcess service_;
    wl::test::ProgramUnderTest host_;
    wl::test::ProgramUnderTest helper_;
    std::unique_ptr<wl::test::XScreen> screen_;
    bool ready_ = false;
    double cpu_ = 0, wall_ = 0;
};

struct SizeResult {
    Figures programs, library;
    bool ok = false;
};

// Both sides at one size, taking turns in blocks of changes.
SizeResult compare(LibrarySide& library, ProgramSide& programs, int samples)
{
    constexpr int kBlock = 20;
    std::mt19937 random(42);
    std::vector<double> latencies[2];
    int missed[2] = {0, 0};
    Side* sides[2] = {&library, &programs};
    int done[2] = {0, 0};
    for (int round = 0; done[0] < samples || done[1] < samples; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            // A B, B A, A B, ...: neither side always goes first.
            const int which = (round + turn) % 2;
            const int count = std::min(kBlock, samples - done[which]);
            if (count <= 0)
                continue;
            // The other side's last picture has been sharpened and it sends nothing now.
            std::this_thread::sleep_for(2s);
            for (int i = 0; i < count; ++i, ++done[which]) {
                const bool bright = done[which] % 2 == 0;
                if (auto latency = sides[which]->change(bright)) {
                    latencies[which].push_back(*latency);
                    if (verbose())
                        std::fprintf(stderr, "%s %s %.1f ms\n", which ? "programs" : "library",
                                     bright ? "bright" : "dark", *latency);
                } else {
                    ++missed[which];
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(60 + random() % 90));
            }
        }
    }
    SizeResult result;
    result.library = figuresOf(latencies[0], missed[0]);
    result.programs = figuresOf(latencies[1], missed[1]);
    result.ok = result.library.samples > 0 && result.programs.samples > 0;
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(10, std::atoi(argv[1])) : 120;
    wl::Log::setSink([](const std::string&) {});
    wl::test::loopbackEngine(); // nothing leaves the machine
    std::printf("glass to glass, %d changes per size and side in turns of 20, 30 fps capture, H.265, everything on "
                "127.0.0.1\n",
                samples);
    std::printf("%-10s %9s %9s %7s | %9s %9s %7s | %7s %7s\n", "size", "prog p50", "prog p95", "missed", "lib p50",
                "lib p95", "missed", "p50 x", "p95 x");
    bool failed = false;
    for (auto [w, h] : {std::pair{1280, 720}, std::pair{1920, 1080}}) {
        LibrarySide library(w, h);
        ProgramSide programs(w, h);
        if (!library.ready() || !programs.ready()) {
            std::printf("%4dx%-5d measurement FAILED (library side ready: %s, programs ready: %s)\n", w, h,
                        library.ready() ? "yes" : "no", programs.ready() ? "yes" : "no");
            failed = true;
            continue;
        }
        const SizeResult result = compare(library, programs, samples);
        if (!result.ok) {
            std::printf("%4dx%-5d measurement FAILED (library samples %d, program samples %d)\n", w, h,
                        result.library.samples, result.programs.samples);
            failed = true;
            continue;
        }
        const Figures& p = result.programs;
        const Figures& l = result.library;
        const double r50 = p.p50 / l.p50, r95 = p.p95 / l.p95;
        std::printf("%4dx%-5d %9.1f %9.1f %7d | %9.1f %9.1f %7d | %7.2f %7.2f\n", w, h, p.p50, p.p95, p.missed, l.p50,
                    l.p95, l.missed, r50, r95);
        programs.report();
        const bool overheadMet = r50 <= 1.15 && r95 <= 1.15;
        std::printf("           target: programs add at most 15%% over the library: %s\n",
                    overheadMet ? "met" : "MISSED");
        failed = failed || !overheadMet;
        if (w == 1920) {
            const bool p95Met = p.p95 <= 80;
            std::printf("           target: p95 at 1920x1080 <= 80 ms: %s\n", p95Met ? "met" : "MISSED");
            failed = failed || !p95Met;
            std::printf("host CPU at 1920x1080 while the screen changes: %.3f s per second of session (%.0f%% of one "
                        "core)\n",
                        programs.cpuPerSecond(), programs.cpuPerSecond() * 100);
            const double still = programs.stillKbitPerSecond();
            const bool stillMet = still >= 0 && still < 50;
            std::printf("host sends on a still screen: %.1f kbit/s (target < 50 kbit/s): %s\n", still,
                        stillMet ? "met" : "MISSED");
            failed = failed || !stillMet;
        }
        programs.saveLogs();
        std::fflush(stdout);
    }
    std::printf("benchmark %s\n", failed ? "FAILED" : "passed");
    std::fflush(stdout);
    std::_Exit(failed ? 1 : 0);
}
