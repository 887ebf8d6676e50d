#include "ProgramUnderTest.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace wl::test {

namespace {

const char* testbedBinary()
{
#ifdef WL_TESTBED_BINARY
    return WL_TESTBED_BINARY;
#else
    return "wickerlane-testbed";
#endif
}

} // namespace

ProgramUnderTest::ProgramUnderTest(std::string name, std::string serviceURL, int width, int height)
    : name_(std::move(name)), serviceURL_(std::move(serviceURL)), xvfb_(width, height)
{
    // The settings an earlier run of the program would find: the service, and WebRTC
    // kept on this machine.
    const std::filesystem::path config = home_.path() / ".config" / "Wickerlane";
    std::filesystem::create_directories(config);
    std::ofstream ini(config / "Wickerlane.ini");
    ini << "[General]\n"
        << "WLIntroductionURL=" << serviceURL_ << "/\n"
        << "WLLoopbackOnly=true\n"
        << "WLSTUNServers=@Invalid()\n";
}

ProgramUnderTest::~ProgramUnderTest()
{
    if (pid_ > 0) {
        command({{"cmd", "quit"}}, 2000);
        int status = 0;
        for (int i = 0; i < 100 && waitpid(pid_, &status, WNOHANG) != pid_; ++i)
            usleep(20000);
        kill9();
    }
}

bool ProgramUnderTest::start()
{
    if (!xvfb_.ok() || pid_ > 0)
        return false;
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0)
        return false;
    const std::string home = home_.str();
    const std::string logPath = home + "/program.log";
    pid_ = fork();
    if (pid_ == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        dup2(in[0], 0);
        dup2(out[1], 1);
        int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(log, 2);
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
        setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
        setenv("XDG_STATE_HOME", (home + "/.local/state").c_str(), 1);
        setenv("DISPLAY", xvfb_.display().c_str(), 1);
        unsetenv("QT_QPA_PLATFORM");
        // The settings name the test's service; the variable would win over them and may
        // name a developer's own.
        unsetenv("WLIntroductionURL");
        execl(testbedBinary(), testbedBinary(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    toProgram_ = in[1];
    fromProgram_ = out[0];
    buffered_.clear();
    // The first line says it is ready.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        auto end = buffered_.find('\n');
        if (end != std::string::npos) {
            std::string line = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            return line.find("ready") != std::string::npos;
        }
        pollfd entry{fromProgram_, POLLIN, 0};
        if (poll(&entry, 1, 100) <= 0)
            continue;
        char chunk[4096];
        ssize_t n = read(fromProgram_, chunk, sizeof chunk);
        if (n <= 0)
            return false;
        buffered_.append(chunk, std::size_t(n));
    }
    return false;
}

std::optional<int> ProgramUnderTest::waitExited(int timeoutMs)
{
    if (pid_ <= 0)
        return std::nullopt;
    int status = 0;
    for (int waited = 0; waited <= timeoutMs; waited += 20) {
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            kill9(); // closes the pipes
            if (WIFEXITED(status))
                return WEXITSTATUS(status);
            return std::nullopt;
        }
        usleep(20000);
    }
    return std::nullopt;
}

void ProgramUnderTest::kill9()
{
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    if (toProgram_ >= 0)
        close(toProgram_);
    if (fromProgram_ >= 0)
        close(fromProgram_);
    toProgram_ = fromProgram_ = -1;
}

nlohmann::json ProgramUnderTest::command(const nlohmann::json& command, int timeoutMs)
{
    if (!sendCommand(command))
        return {{"error", "not running"}};
    return readAnswer(timeoutMs);
}

bool ProgramUnderTest::sendCommand(const nlohmann::json& command)
{
    if (toProgram_ < 0)
        return false;
    const std::string line = command.dump() + "\n";
    return write(toProgram_, line.data(), line.size()) == ssize_t(line.size());
}

nlohmann::json ProgramUnderTest::readAnswer(int timeoutMs)
{
    if (fromProgram_ < 0)
        return {{"error", "not running"}};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        auto end = buffered_.find('\n');
        if (end != std::string::npos) {
            std::string answer = buffered_.substr(0, end);
            buffered_.erase(0, end + 1);
            try {
                return nlohmann::json::parse(answer);
            } catch (...) {
                return {{"error", "unreadable answer: " + answer}};
            }
        }
        pollfd entry{fromProgram_, POLLIN, 0};
        if (poll(&entry, 1, 100) <= 0)
            continue;
        char chunk[65536];
        ssize_t n = read(fromProgram_, chunk, sizeof chunk);
        if (n <= 0)
            return {{"error", "program gone"}};
        buffered_.append(chunk, std::size_t(n));
    }
    return {{"error", "no answer"}};
}

bool ProgramUnderTest::waitFor(const std::function<bool(const nlohmann::json&)>& condition, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        auto now = state();
        if (!now.contains("error") && condition(now))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

std::string ProgramUnderTest::deviceId()
{
    if (deviceId_.empty())
        deviceId_ = state().value("deviceId", "");
    return deviceId_;
}

std::string ProgramUnderTest::log() const
{
    std::ifstream in(home_.path() / "program.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace wl::test
