#pragma once
// A private PulseAudio for one test, set up as scripts/with-test-env sets up the shared
// one: null sinks wl_system (the default) and wl_playback, and a null source wl_mic (the
// default). For tests that change what the server holds (its default source, modules
// loaded and unloaded) while others use the shared one. It listens only on a socket in
// its own temporary folder and ends with this object (or with the test process).
// address() is the value for PULSE_SERVER.
#include "TestDirs.h"

#include <string>
#include <vector>
#include <sys/types.h>

namespace wl::test {

class PulseServer {
public:
    PulseServer();
    ~PulseServer();
    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    bool ok() const { return !address_.empty(); }
    const std::string& address() const { return address_; }

    // Runs pactl against this server; its output, trimmed.
    std::string pactl(const std::string& arguments) const;
    // The sources that streams of this media name record from now, one entry a stream.
    std::vector<std::string> recordingFrom(const std::string& mediaName) const;

private:
    TempDir folder_;
    pid_t pid_ = -1;
    std::string address_;
};

} // namespace wl::test
