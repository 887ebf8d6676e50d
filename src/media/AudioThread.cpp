#include "media/AudioThread.h"

#include "platform/MainThread.h"

#include <QCoreApplication>

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>

#include <pthread.h>

namespace wl {

namespace {
thread_local std::string currentThreadName;
}

AudioThread::AudioThread(std::string name, std::function<void()> body)
{
    thread_ = std::thread([name = std::move(name), body = std::move(body)] {
        currentThreadName = name;
        pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
        body();
    });
}

AudioThread::~AudioThread()
{
    join();
}

void AudioThread::join()
{
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
    else if (thread_.joinable())
        thread_.detach();
}

std::string AudioThread::currentName()
{
    return currentThreadName;
}

struct SerialQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<std::function<void()>> jobs;
    bool stopping = false;
    std::thread::id threadId;
    std::unique_ptr<AudioThread> thread;
};

SerialQueue::SerialQueue(std::string name) : state_(new State)
{
    State* s = state_;
    std::promise<void> started;
    auto ready = started.get_future();
    s->thread = std::make_unique<AudioThread>(std::move(name), [s, &started] {
        {
            std::lock_guard lock(s->mutex);
            s->threadId = std::this_thread::get_id();
        }
        started.set_value();
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock lock(s->mutex);
                s->wake.wait(lock, [s] { return s->stopping || !s->jobs.empty(); });
                if (s->jobs.empty())
                    return;
                job = std::move(s->jobs.front());
                s->jobs.pop_front();
            }
            job();
        }
    });
    ready.wait();
}

SerialQueue::~SerialQueue()
{
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
    }
    state_->wake.notify_all();
    state_->thread.reset();
    delete state_;
}

void SerialQueue::post(std::function<void()> job)
{
    {
        std::lock_guard lock(state_->mutex);
        state_->jobs.push_back(std::move(job));
    }
    state_->wake.notify_one();
}

void SerialQueue::sync(std::function<void()> job)
{
    if (isCurrent()) {
        job();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    post([&job, &done] {
        job();
        done.set_value();
    });
    finished.wait();
}

bool SerialQueue::isCurrent() const
{
    std::lock_guard lock(state_->mutex);
    return state_->threadId == std::this_thread::get_id();
}

void runOnMainThread(std::function<void()> fn)
{
    if (QCoreApplication::instance()) {
        postToMainThread(std::move(fn));
        return;
    }
    fn();
}

} // namespace wl
