#include "BenchSupport.h"

#include "platform/Log.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace wl::bench {

Xvfb::Xvfb(int width, int height)
{
    if (const char* display = std::getenv("DISPLAY"))
        previous_ = display;
    // Xvfb picks a free display itself and writes its number to a pipe (-displayfd):
    // guessing a number raced with other servers starting at the same moment, and the
    // benchmark then drew on a screen that went away under it. -noreset: by default the
    // server resets when its last client leaves, and a client connecting during that
    // reset (the capturer, just after a probe closed) was refused in about one run of
    // three. The probe connection also stays open while the server runs.
    int ready[2];
    if (pipe(ready) != 0) {
        fail("could not make a pipe for Xvfb");
        return;
    }
    // Xvfb's messages go to an unlinked file that only this process still holds.
    char logName[] = "/tmp/wl-bench-xvfb-XXXXXX";
    log_ = mkstemp(logName);
    if (log_ >= 0)
        unlink(logName);
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM); // never outlives a benchmark that dies
        close(ready[0]);
        int null = ::open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(log_ >= 0 ? log_ : null, 2);
        std::string fd = std::to_string(ready[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-noreset", "-screen", "0", screen.c_str(), "-nolisten", "tcp",
               "+extension", "RANDR", "+extension", "XFIXES", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    if (pid_ < 0) {
        close(ready[0]);
        fail("could not start Xvfb (fork failed)");
        return;
    }
    // The number arrives once the server accepts connections; wait at most 10 s.
    std::string number;
    bool complete = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    fcntl(ready[0], F_SETFL, O_NONBLOCK);
    while (std::chrono::steady_clock::now() < deadline) {
        char c;
        ssize_t n = read(ready[0], &c, 1);
        if (n == 1 && c == '\n') {
            complete = true;
            break;
        }
        if (n == 1)
            number += c;
        else if (n == 0)
            break; // the server exited
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    close(ready[0]);
    if (!complete || number.empty()) {
        // An exiting server closes the pipe a moment before it can be reaped.
        int status = 0;
        bool exited = false;
        for (int i = 0; i < 100 && !exited; ++i) {
            exited = waitpid(pid_, &status, WNOHANG) == pid_;
            if (!exited)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (exited)
            pid_ = -1;
        if (!exited)
            fail("Xvfb did not report a display within 10 s");
        else if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
            fail("could not run Xvfb (is the xvfb package installed?)");
        else
            fail("Xvfb exited before it accepted connections");
        return;
    }
    setenv("DISPLAY", (":" + number).c_str(), 1);
    probe_ = XOpenDisplay(nullptr);
    if (!probe_) {
        fail("could not open the Xvfb display :" + number);
        return;
    }
    ok_ = true;
}

void Xvfb::fail(const std::string& why)
{
    error_ = why;
    if (log_ < 0)
        return;
    std::string text;
    char buffer[4096];
    ssize_t n;
    for (off_t at = 0; (n = pread(log_, buffer, sizeof buffer, at)) > 0 && text.size() < 16384; at += n)
        text.append(buffer, size_t(n));
    if (!text.empty())
        error_ += "; Xvfb said:\n" + text;
}

Xvfb::~Xvfb()
{
    if (probe_)
        XCloseDisplay(static_cast<Display*>(probe_));
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    if (log_ >= 0)
        close(log_);
    if (!previous_.empty())
        setenv("DISPLAY", previous_.c_str(), 1);
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    double rank = p * double(values.size() - 1);
    size_t low = size_t(rank);
    size_t high = std::min(low + 1, values.size() - 1);
    return values[low] + (values[high] - values[low]) * (rank - double(low));
}

Figures figuresOf(const std::vector<double>& values, int missed)
{
    Figures figures;
    figures.samples = int(values.size());
    figures.missed = missed;
    figures.p50 = percentile(values, 0.5);
    figures.p95 = percentile(values, 0.95);
    return figures;
}

namespace {
std::mutex logLock;
std::deque<std::string> logLines;
std::vector<std::string> scratchFiles;
} // namespace

void removeOnFailure(const std::string& path)
{
    scratchFiles.push_back(path);
}

void keepLogLines()
{
    Log::setSink([](const std::string& line) {
        std::lock_guard guard(logLock);
        logLines.push_back(line);
        if (logLines.size() > 200)
            logLines.pop_front();
    });
}

std::string lastLogLines(int count)
{
    std::lock_guard guard(logLock);
    std::string text;
    auto first = logLines.size() > size_t(count) ? logLines.end() - count : logLines.begin();
    for (auto it = first; it != logLines.end(); ++it)
        text += "  " + *it + "\n";
    return text;
}

void failRun(const std::string& why)
{
    std::fflush(stdout);
    std::fprintf(stderr, "FAILED: %s\n", why.c_str());
    std::string log = lastLogLines();
    if (!log.empty())
        std::fprintf(stderr, "last log lines:\n%s", log.c_str());
    std::fflush(stderr);
    for (const auto& path : scratchFiles)
        std::remove(path.c_str());
    // The shared peer-connection factory and its threads may be running: leave without
    // static destructors under them.
    std::_Exit(2);
}

} // namespace wl::bench
