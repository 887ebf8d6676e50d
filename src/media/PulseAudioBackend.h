#pragma once
// The connection to the PulseAudio server for questions about devices: the default
// source and sink, a source's details, and changes of the default source. Audio itself
// flows through PulseStream. Thread-safe; listeners run on the backend's own thread and
// must not call back into the backend (hop first).

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

struct pa_threaded_mainloop;
struct pa_context;

namespace wl {

class PulseAudioBackend {
public:
    struct SourceInfo {
        std::string name;
        bool isMonitor = false; // the monitor of a sink, not an input device
        int rate = 0;
        int channels = 0;
    };

    // server: empty for the default server (PULSE_SERVER or the user's session).
    explicit PulseAudioBackend(std::string server = {});
    ~PulseAudioBackend();
    PulseAudioBackend(const PulseAudioBackend&) = delete;
    PulseAudioBackend& operator=(const PulseAudioBackend&) = delete;

    const std::string& server() const { return server_; }
    bool connected();
    std::optional<std::string> defaultSourceName();
    std::optional<std::string> defaultSinkName();
    std::optional<SourceInfo> sourceInfo(const std::string& name);

    // Called (on the backend thread) with the new name whenever the server's default
    // source changes, including when it goes away ("").
    int addDefaultSourceListener(std::function<void(const std::string&)> listener);
    void removeDefaultSourceListener(int id);

private:
    bool ensureConnectedLocked();
    bool connectLocked(bool* refused); // one attempt
    void disconnectLocked();
    void serverChanged();
    struct ServerNames {
        std::string defaultSource;
        std::string defaultSink;
        bool ok = false;
    };
    ServerNames serverNamesLocked();

    std::string server_;
    std::recursive_mutex mutex_; // guards the connection (not the listeners)
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;

    std::mutex listenerMutex_;
    std::map<int, std::function<void(const std::string&)>> listeners_;
    int nextListener_ = 1;
    std::string lastDefaultSource_; // under listenerMutex_
    bool knowsDefaultSource_ = false;
};

} // namespace wl
