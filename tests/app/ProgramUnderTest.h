#pragma once
// One running wickerlane-testbed for end-to-end tests: its own home (settings, keys,
// history), its own Xvfb, the introduction service's URL in its settings, WebRTC on
// 127.0.0.1 only and no STUN server. The test talks to it over its standard input and
// output, one JSON line each way. It can be killed and started again on the same home.
#include "TestDirs.h"
#include "XvfbServer.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

namespace wl::test {

class ProgramUnderTest {
public:
    ProgramUnderTest(std::string name, std::string serviceURL, int width = 1280, int height = 720);
    ~ProgramUnderTest();

    // Starts the program and waits (at most 30 s) until it answers.
    bool start();
    void kill9();
    // Waits until the program has ended by itself; its exit code, or nullopt when it
    // still runs (or was killed by a signal).
    std::optional<int> waitExited(int timeoutMs);
    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // One command and its answer; {"error": ...} when no answer came in time.
    nlohmann::json command(const nlohmann::json& command, int timeoutMs = 15000);
    // Sends a command whose answer comes later (readAnswer takes it).
    bool sendCommand(const nlohmann::json& command);
    nlohmann::json readAnswer(int timeoutMs);
    nlohmann::json state() { return command({{"cmd", "state"}}); }
    // Polls the state until the condition holds or the time is up.
    bool waitFor(const std::function<bool(const nlohmann::json& state)>& condition, int timeoutMs = 20000);

    const std::string& display() const { return xvfb_.display(); }
    std::string home() const { return home_.str(); }
    std::string deviceId();
    // What the program logged so far.
    std::string log() const;

private:
    std::string name_;
    std::string serviceURL_;
    TempDir home_;
    XvfbServer xvfb_;
    pid_t pid_ = -1;
    int toProgram_ = -1;
    int fromProgram_ = -1;
    std::string buffered_;
    std::string deviceId_;
};

} // namespace wl::test
