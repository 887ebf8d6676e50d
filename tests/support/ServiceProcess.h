#pragma once
// Runs the real introduction service (the built wickerlane-introduction binary) for tests:
// on 127.0.0.1 with a free port and a database in a temporary folder. It can be killed
// with SIGKILL and started again on the same port and database.
//
// The rate limits are raised by default (tests open many connections from one address);
// extra arguments come after the defaults, so a test may set its own limits.

#include "TestDirs.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace wl::test {

class ServiceProcess {
public:
    explicit ServiceProcess(std::vector<std::string> extraArguments = {});
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    // Starts the process and waits (at most 10 s) until it answers; false when it does not.
    // The first start picks a free port; later starts reuse it.
    bool start();
    // SIGKILL, then wait for the process to go.
    void kill9();
    // SIGTERM, then wait.
    void stop();
    // kill9() when running, then start() on the same port and database.
    bool restart();
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    std::uint16_t port() const { return port_; }
    std::string httpUrl() const; // "http://127.0.0.1:<port>"
    std::string wsUrl() const; // "ws://127.0.0.1:<port>"
    const std::string& databasePath() const { return databasePath_; }
    // Everything the service logged so far (all runs).
    std::string log() const;

    // The binary: WL_SERVICE_BINARY from the build, else $WL_SERVICE_BINARY, else
    // service/wickerlane-introduction above the running test executable.
    static std::string binaryPath();

    // One blocking HTTP/1.1 request to 127.0.0.1:port; returns the status (0 when no answer)
    // and fills body. For readiness probes and simple tests.
    static int httpRequest(std::uint16_t port, const std::string& method, const std::string& target,
                           const std::string& body = {}, std::string* responseBody = nullptr);

private:
    void waitForExit();

    std::vector<std::string> extraArguments_;
    TempDir dir_;
    std::string databasePath_;
    std::string logPath_;
    std::uint16_t port_ = 0;
    pid_t pid_ = -1;
};

} // namespace wl::test
