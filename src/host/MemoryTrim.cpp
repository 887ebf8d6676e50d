#include "host/MemoryTrim.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include <malloc.h>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace wl {

namespace {

// Set once the process's trimmer has ended (at exit): requests from then on do nothing.
std::atomic<bool> trimmerEnded{false};

class Trimmer {
public:
    ~Trimmer()
    {
        trimmerEnded = true;
        {
            std::lock_guard guard(lock_);
            ending_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }

    void request()
    {
        {
            std::lock_guard guard(lock_);
            ++figures_.requests;
            if (ending_)
                return;
            wanted_ = true;
            if (!thread_.joinable())
                thread_ = std::thread([this] { run(); });
        }
        wake_.notify_all();
    }

    MemoryTrim::Figures figures()
    {
        std::lock_guard guard(lock_);
        return figures_;
    }

private:
    void run()
    {
        pthread_setname_np(pthread_self(), "wl-memory-trim");
        // Housekeeping: the session's own threads come first for the processors.
        setpriority(PRIO_PROCESS, id_t(gettid()), 10);
        std::unique_lock guard(lock_);
        for (;;) {
            wake_.wait(guard, [this] { return wanted_ || ending_; });
            if (ending_)
                return;
            wanted_ = false;
            guard.unlock();
            const auto start = std::chrono::steady_clock::now();
            malloc_trim(0);
            const auto took =
                std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start);
            guard.lock();
            ++figures_.trims;
            figures_.last = took;
            if (took > figures_.longest)
                figures_.longest = took;
        }
    }

    std::mutex lock_;
    std::condition_variable wake_;
    bool wanted_ = false;
    bool ending_ = false;
    MemoryTrim::Figures figures_;
    std::thread thread_;
};

Trimmer& trimmer()
{
    static Trimmer shared;
    return shared;
}

} // namespace

void MemoryTrim::request()
{
    if (!trimmerEnded)
        trimmer().request();
}

MemoryTrim::Figures MemoryTrim::figures()
{
    return trimmerEnded ? Figures{} : trimmer().figures();
}

} // namespace wl
