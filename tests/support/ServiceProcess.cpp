#include "ServiceProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace wl::test {

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

bool canConnect(std::uint16_t port)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

std::string zeroId()
{
    return std::string(64, '0');
}

} // namespace

ServiceProcess::ServiceProcess(std::vector<std::string> extraArguments) : extraArguments_(std::move(extraArguments))
{
    databasePath_ = (dir_.path() / "service.sqlite").string();
    logPath_ = (dir_.path() / "service.log").string();
}

ServiceProcess::~ServiceProcess()
{
    if (running())
        kill9();
}

std::string ServiceProcess::binaryPath()
{
#ifdef WL_SERVICE_BINARY
    if (std::filesystem::exists(WL_SERVICE_BINARY))
        return WL_SERVICE_BINARY;
#endif
    if (const char* fromEnvironment = std::getenv("WL_SERVICE_BINARY"); fromEnvironment && *fromEnvironment)
        return fromEnvironment;
    std::error_code ec;
    auto dir = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path();
    while (!ec && !dir.empty()) {
        auto candidate = dir / "service" / "wickerlane-introduction";
        if (std::filesystem::exists(candidate))
            return candidate.string();
        if (dir == dir.parent_path())
            break;
        dir = dir.parent_path();
    }
    return {};
}

std::string ServiceProcess::httpUrl() const
{
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::string ServiceProcess::wsUrl() const
{
    return "ws://127.0.0.1:" + std::to_string(port_);
}

std::string ServiceProcess::log() const
{
    return readFile(logPath_);
}

bool ServiceProcess::start()
{
    if (running())
        return true;
    std::string binary = binaryPath();
    if (binary.empty())
        return false;

    std::vector<std::string> arguments = {binary,
                                          "--listen",
                                          "127.0.0.1",
                                          "--port",
                                          std::to_string(port_),
                                          "--db",
                                          databasePath_,
                                          "--connection-rate",
                                          "100000",
                                          "--request-rate",
                                          "1000000",
                                          "--connections-per-address",
                                          "100000"};
    arguments.insert(arguments.end(), extraArguments_.begin(), extraArguments_.end());
    std::vector<char*> argv;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    auto offset =
        static_cast<std::size_t>(std::filesystem::exists(logPath_) ? std::filesystem::file_size(logPath_) : 0);
    // fork + exec rather than posix_spawn: the child asks to be killed when the test process
    // dies, so a crashed test never leaves a service behind. Only async-signal-safe calls
    // between fork and exec.
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        int fd = ::open(logPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
        if (fd >= 0) {
            dup2(fd, STDOUT_FILENO);
            dup2(fd, STDERR_FILENO);
        }
        execve(binary.c_str(), argv.data(), environ);
        _exit(127);
    }
    pid_ = pid;

    // Wait for "listening on 127.0.0.1:<port>" in this run's part of the log.
    const std::string marker = "listening on 127.0.0.1:";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::string text = readFile(logPath_);
        if (text.size() > offset) {
            auto at = text.find(marker, offset);
            if (at != std::string::npos) {
                auto end = text.find_first_not_of("0123456789", at + marker.size());
                if (end != std::string::npos) {
                    port_ = static_cast<std::uint16_t>(
                        std::stoi(text.substr(at + marker.size(), end - at - marker.size())));
                    break;
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (port_ == 0)
        return false;
    bool tls = std::find(extraArguments_.begin(), extraArguments_.end(), "--cert") != extraArguments_.end();
    while (std::chrono::steady_clock::now() < deadline) {
        // Over TLS the plain probe cannot answer: a TCP connection is enough there.
        if (tls ? canConnect(port_) : httpRequest(port_, "GET", "/v1/status/" + zeroId()) == 200)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void ServiceProcess::waitForExit()
{
    if (pid_ <= 0)
        return;
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
}

void ServiceProcess::kill9()
{
    if (pid_ > 0)
        ::kill(pid_, SIGKILL);
    waitForExit();
}

void ServiceProcess::stop()
{
    if (pid_ > 0)
        ::kill(pid_, SIGTERM);
    waitForExit();
}

bool ServiceProcess::restart()
{
    if (running())
        kill9();
    return start();
}

int ServiceProcess::httpRequest(std::uint16_t port, const std::string& method, const std::string& target,
                                const std::string& body, std::string* responseBody)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return 0;
    }
    std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    if (!body.empty() || method == "POST" || method == "PUT")
        request += "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    request += "\r\n" + body;
    std::size_t sent = 0;
    while (sent < request.size()) {
        auto n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            break;
        sent += static_cast<std::size_t>(n);
    }
    std::string response;
    char buffer[4096];
    while (true) {
        auto n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        response.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    if (response.rfind("HTTP/1.", 0) != 0 || response.size() < 12)
        return 0;
    int status = std::atoi(response.substr(9, 3).c_str());
    if (responseBody) {
        auto at = response.find("\r\n\r\n");
        *responseBody = at == std::string::npos ? std::string() : response.substr(at + 4);
    }
    return status;
}

} // namespace wl::test
