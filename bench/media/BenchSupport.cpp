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
    int number = 140;
    struct stat st;
    while (stat(("/tmp/.X11-unix/X" + std::to_string(number)).c_str(), &st) == 0 ||
           stat(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), &st) == 0)
        ++number;
    std::string display = ":" + std::to_string(number);
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM); // never outlives a benchmark that dies
        int null = ::open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execlp("Xvfb", "Xvfb", display.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp", "+extension",
               "RANDR", "+extension", "XFIXES", static_cast<char*>(nullptr));
        _exit(127);
    }
    setenv("DISPLAY", display.c_str(), 1);
    for (int i = 0; i < 100 && !ok_; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (Display* d = XOpenDisplay(nullptr)) {
            XCloseDisplay(d);
            ok_ = true;
        }
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
