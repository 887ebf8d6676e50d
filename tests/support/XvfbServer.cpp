#include "XvfbServer.h"

#include "ChildProcess.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace wl::test {

XvfbServer::XvfbServer(int width, int height, std::vector<std::string> extraArguments)
{
    int ready[2];
    if (pipe(ready) != 0)
        return;
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    // Made before forking: the child only execs. -noreset: by default the server resets when
    // its last client leaves, and a client connecting during that reset is refused.
    std::vector<std::string> arguments = {"Xvfb",       "-displayfd", std::to_string(ready[1]),
                                          "-noreset",   "-screen",    "0",
                                          screen,       "-nolisten",  "tcp",
                                          "+extension", "RANDR",      "+extension",
                                          "XFIXES"};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives the test
        close(ready[0]);
        int null = ::open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        execvp("Xvfb", argv.data());
        _exit(127);
    }
    close(ready[1]);
    if (pid_ < 0) {
        close(ready[0]);
        return;
    }
    // The number arrives once the server accepts connections; wait at most 10 s.
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    bool done = false;
    while (!done && std::chrono::steady_clock::now() < deadline) {
        pollfd entry{ready[0], POLLIN, 0};
        if (poll(&entry, 1, 100) <= 0)
            continue;
        char c;
        ssize_t n = read(ready[0], &c, 1);
        if (n <= 0 || c == '\n')
            done = true;
        else
            number += c;
    }
    close(ready[0]);
    if (!number.empty())
        display_ = ":" + number;
}

XvfbServer::~XvfbServer()
{
    stopChild(pid_);
}

} // namespace wl::test
