#include "PulseServer.h"

#include "ChildProcess.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string_view>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace wl::test {

namespace {

bool accepts(const std::string& socketPath)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool connected = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

} // namespace

PulseServer::PulseServer()
{
    const std::string folder = folder_.str();
    const std::string socketPath = folder + "/native";
    const std::string script = folder + "/test.pa";
    {
        std::ofstream out(script);
        // The socket last: once it accepts connections, the rest is there.
        out << "load-module module-null-sink sink_name=wl_system rate=48000 channels=2\n"
            << "load-module module-null-sink sink_name=wl_playback rate=48000 channels=2\n"
            << "load-module module-null-source source_name=wl_mic rate=48000 channels=1\n"
            << "load-module module-always-sink\n"
            << "set-default-sink wl_system\n"
            << "set-default-source wl_mic\n"
            << "load-module module-native-protocol-unix auth-anonymous=1 socket=" << socketPath << "\n";
        if (!out)
            return;
    }
    // Its runtime and state folders are its own too, and it stays off the shared D-Bus
    // session (where a second server can't take PulseAudio's name) and the X server:
    // nothing of the shared server's is read or written.
    std::vector<std::string> environment = {"PULSE_RUNTIME_PATH=" + folder + "/run",
                                            "PULSE_STATE_PATH=" + folder + "/state"};
    const std::vector<std::string> leftOut = {
        "PULSE_RUNTIME_PATH=", "PULSE_STATE_PATH=", "PULSE_SERVER=", "DBUS_SESSION_BUS_ADDRESS=", "DISPLAY="};
    for (char** entry = environ; *entry; ++entry) {
        const std::string_view variable(*entry);
        if (std::none_of(leftOut.begin(), leftOut.end(),
                         [&](const std::string& name) { return variable.starts_with(name); }))
            environment.emplace_back(variable);
    }
    std::vector<std::string> arguments = {"pulseaudio",
                                          "-n",
                                          "-F",
                                          script,
                                          "--daemonize=no",
                                          "--exit-idle-time=-1",
                                          "--disallow-exit",
                                          "--use-pid-file=no",
                                          "--log-target=file:" + folder + "/pulse.log"};
    // Made before forking: the child only execs.
    std::vector<char*> argv, envp;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    for (auto& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives the test
        int null = ::open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execvpe("pulseaudio", argv.data(), envp.data());
        _exit(127);
    }
    if (pid_ < 0)
        return;
    // Ready once its socket accepts connections; wait at most 10 s.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (accepts(socketPath)) {
            address_ = "unix:" + socketPath;
            return;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

PulseServer::~PulseServer()
{
    stopChild(pid_);
}

std::string PulseServer::pactl(const std::string& arguments) const
{
    return commandOutput("pactl -s '" + address_ + "' " + arguments);
}

std::vector<std::string> PulseServer::recordingFrom(const std::string& mediaName) const
{
    // "<index>\t<name>\t..." a source.
    std::map<std::string, std::string> sources;
    std::istringstream shortList(pactl("list short sources"));
    for (std::string line; std::getline(shortList, line);) {
        const auto tab = line.find('\t');
        if (tab != std::string::npos)
            sources[line.substr(0, tab)] = line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1);
    }
    // Each stream's block holds "Source: <index>" and then its properties.
    std::vector<std::string> found;
    std::string source;
    std::istringstream list(pactl("list source-outputs"));
    for (std::string line; std::getline(list, line);) {
        const auto start = line.find_first_not_of(" \t");
        if (start == std::string::npos)
            continue;
        const std::string_view text = std::string_view(line).substr(start);
        if (text.starts_with("Source: "))
            source = std::string(text.substr(8));
        else if (text == "media.name = \"" + mediaName + "\"")
            found.push_back(sources.count(source) ? sources[source] : source);
    }
    return found;
}

} // namespace wl::test
