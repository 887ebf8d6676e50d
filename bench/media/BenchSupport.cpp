#include "BenchSupport.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <cstdlib>
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
    // benchmark then drew on a screen that went away under it.
    int ready[2];
    if (pipe(ready) != 0)
        return;
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM); // never outlives a benchmark that dies
        close(ready[0]);
        int null = ::open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::string fd = std::to_string(ready[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
               "+extension", "RANDR", "+extension", "XFIXES", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    if (pid_ < 0) {
        close(ready[0]);
        return;
    }
    // The number arrives once the server accepts connections; wait at most 5 s.
    std::string number;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    fcntl(ready[0], F_SETFL, O_NONBLOCK);
    while (std::chrono::steady_clock::now() < deadline) {
        char c;
        ssize_t n = read(ready[0], &c, 1);
        if (n == 1 && c == '\n')
            break;
        if (n == 1)
            number += c;
        else if (n == 0)
            break; // the server exited
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    close(ready[0]);
    if (number.empty())
        return;
    setenv("DISPLAY", (":" + number).c_str(), 1);
    if (Display* d = XOpenDisplay(nullptr)) {
        XCloseDisplay(d);
        ok_ = true;
    }
}

Xvfb::~Xvfb()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
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

} // namespace wl::bench
