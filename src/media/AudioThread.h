#pragma once
// A named thread for the audio engine and the capture paths. Linux limits a thread's
// kernel name to 15 characters, so the full name is also kept per thread and can be
// read back with AudioThread::currentName() (logs and tests use it).

#include <functional>
#include <string>
#include <thread>

namespace wl {

class AudioThread {
public:
    AudioThread(std::string name, std::function<void()> body);
    ~AudioThread(); // joins
    AudioThread(const AudioThread&) = delete;
    AudioThread& operator=(const AudioThread&) = delete;

    void join();

    // The full name of the calling thread when it is an AudioThread, else "".
    static std::string currentName();

private:
    std::thread thread_;
};

// A serial work queue on its own thread: jobs run one after another in the order given.
class SerialQueue {
public:
    explicit SerialQueue(std::string name);
    ~SerialQueue(); // runs the jobs already queued, then stops

    void post(std::function<void()> job);
    // Runs job on the queue and waits for it (must not be called from the queue itself).
    void sync(std::function<void()> job);
    bool isCurrent() const;

private:
    struct State;
    State* state_;
};

// Runs fn on the Qt main thread when a QCoreApplication exists; otherwise runs it at once
// on the calling thread.
void runOnMainThread(std::function<void()> fn);

} // namespace wl
