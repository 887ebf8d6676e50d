#include "media/PulseAudioBackend.h"

#include "platform/Log.h"

#include <pulse/pulseaudio.h>

#include <chrono>
#include <thread>
#include <vector>

namespace wl {

namespace {

void signalLoop(void* loop)
{
    pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0);
}

// Waits (mainloop locked) for an operation; false when it was cancelled.
bool waitFor(pa_threaded_mainloop* loop, pa_operation* operation)
{
    if (!operation)
        return false;
    while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
        pa_threaded_mainloop_wait(loop);
    bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
    pa_operation_unref(operation);
    return done;
}

struct ServerQuery {
    pa_threaded_mainloop* loop;
    std::string source;
    std::string sink;
    bool ok = false;
};

void serverInfoArrived(pa_context*, const pa_server_info* info, void* userdata)
{
    auto* query = static_cast<ServerQuery*>(userdata);
    if (info) {
        query->source = info->default_source_name ? info->default_source_name : "";
        query->sink = info->default_sink_name ? info->default_sink_name : "";
        query->ok = true;
    }
    signalLoop(query->loop);
}

struct SourceQuery {
    pa_threaded_mainloop* loop;
    std::optional<PulseAudioBackend::SourceInfo> info;
};

void sourceInfoArrived(pa_context*, const pa_source_info* info, int eol, void* userdata)
{
    auto* query = static_cast<SourceQuery*>(userdata);
    if (eol == 0 && info) {
        PulseAudioBackend::SourceInfo result;
        result.name = info->name ? info->name : "";
        result.isMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
        result.rate = static_cast<int>(info->sample_spec.rate);
        result.channels = info->sample_spec.channels;
        query->info = result;
    }
    signalLoop(query->loop);
}

} // namespace

PulseAudioBackend::PulseAudioBackend(std::string server) : server_(std::move(server)) { }

PulseAudioBackend::~PulseAudioBackend()
{
    std::lock_guard lock(mutex_);
    disconnectLocked();
}

void PulseAudioBackend::disconnectLocked()
{
    if (loop_)
        pa_threaded_mainloop_stop(loop_);
    if (context_) {
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
    }
    if (loop_) {
        pa_threaded_mainloop_free(loop_);
        loop_ = nullptr;
    }
}

bool PulseAudioBackend::ensureConnectedLocked()
{
    if (context_ && pa_context_get_state(context_) == PA_CONTEXT_READY)
        return true;
    // A busy server refuses connections for a moment once its socket's queue is full
    // (see PulseStream::open): try again a few times.
    constexpr int kAttempts = 5;
    for (int attempt = 1;; ++attempt) {
        bool refused = false;
        if (connectLocked(&refused))
            return true;
        if (!refused || attempt == kAttempts)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20 << (attempt - 1)));
    }
    Log::line("Wickerlane: cannot reach the sound server");
    return false;
}

bool PulseAudioBackend::connectLocked(bool* refused)
{
    disconnectLocked();
    loop_ = pa_threaded_mainloop_new();
    if (!loop_)
        return false;
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "Wickerlane");
    if (!context_) {
        disconnectLocked();
        return false;
    }
    pa_context_set_state_callback(
        context_, [](pa_context*, void* loop) { signalLoop(loop); }, loop_);
    if (pa_context_connect(context_, server_.empty() ? nullptr : server_.c_str(), PA_CONTEXT_NOAUTOSPAWN, nullptr) <
        0) {
        *refused = pa_context_errno(context_) == PA_ERR_CONNECTIONREFUSED;
        disconnectLocked();
        return false;
    }
    pa_threaded_mainloop_lock(loop_);
    if (pa_threaded_mainloop_start(loop_) < 0) {
        pa_threaded_mainloop_unlock(loop_);
        disconnectLocked();
        return false;
    }
    bool ready = false;
    for (;;) {
        auto state = pa_context_get_state(context_);
        if (state == PA_CONTEXT_READY) {
            ready = true;
            break;
        }
        if (!PA_CONTEXT_IS_GOOD(state)) {
            *refused = pa_context_errno(context_) == PA_ERR_CONNECTIONREFUSED;
            break;
        }
        pa_threaded_mainloop_wait(loop_);
    }
    if (ready) {
        pa_context_set_subscribe_callback(
            context_,
            [](pa_context*, pa_subscription_event_type_t type, uint32_t, void* self) {
                auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
                if (facility == PA_SUBSCRIPTION_EVENT_SERVER || facility == PA_SUBSCRIPTION_EVENT_SOURCE)
                    static_cast<PulseAudioBackend*>(self)->serverChanged();
            },
            this);
        pa_operation_unref(pa_context_subscribe(
            context_, static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_SOURCE),
            nullptr, nullptr));
        // Remember the default source so that a later change can be told apart.
        ServerQuery query{loop_, {}, {}, false};
        waitFor(loop_, pa_context_get_server_info(context_, serverInfoArrived, &query));
        if (query.ok) {
            std::lock_guard listenerLock(listenerMutex_);
            lastDefaultSource_ = query.source;
            knowsDefaultSource_ = true;
        }
    }
    pa_threaded_mainloop_unlock(loop_);
    if (!ready)
        disconnectLocked();
    return ready;
}

// On the backend thread: ask for the server's names again, without blocking the loop.
void PulseAudioBackend::serverChanged()
{
    auto* operation = pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* userdata) {
            if (!info)
                return;
            auto* self = static_cast<PulseAudioBackend*>(userdata);
            std::string source = info->default_source_name ? info->default_source_name : "";
            std::vector<std::function<void(const std::string&)>> toCall;
            {
                std::lock_guard lock(self->listenerMutex_);
                if (self->knowsDefaultSource_ && source == self->lastDefaultSource_)
                    return;
                self->lastDefaultSource_ = source;
                self->knowsDefaultSource_ = true;
                for (auto& [id, listener] : self->listeners_)
                    toCall.push_back(listener);
            }
            for (auto& listener : toCall)
                listener(source);
        },
        this);
    if (operation)
        pa_operation_unref(operation);
}

bool PulseAudioBackend::connected()
{
    std::lock_guard lock(mutex_);
    return ensureConnectedLocked();
}

PulseAudioBackend::ServerNames PulseAudioBackend::serverNamesLocked()
{
    ServerNames names;
    if (!ensureConnectedLocked())
        return names;
    ServerQuery query{loop_, {}, {}, false};
    pa_threaded_mainloop_lock(loop_);
    waitFor(loop_, pa_context_get_server_info(context_, serverInfoArrived, &query));
    pa_threaded_mainloop_unlock(loop_);
    names.ok = query.ok;
    names.defaultSource = query.source;
    names.defaultSink = query.sink;
    return names;
}

std::optional<std::string> PulseAudioBackend::defaultSourceName()
{
    std::lock_guard lock(mutex_);
    auto names = serverNamesLocked();
    if (!names.ok || names.defaultSource.empty())
        return std::nullopt;
    return names.defaultSource;
}

std::optional<std::string> PulseAudioBackend::defaultSinkName()
{
    std::lock_guard lock(mutex_);
    auto names = serverNamesLocked();
    if (!names.ok || names.defaultSink.empty())
        return std::nullopt;
    return names.defaultSink;
}

std::optional<PulseAudioBackend::SourceInfo> PulseAudioBackend::sourceInfo(const std::string& name)
{
    std::lock_guard lock(mutex_);
    if (name.empty() || !ensureConnectedLocked())
        return std::nullopt;
    SourceQuery query{loop_, std::nullopt};
    pa_threaded_mainloop_lock(loop_);
    waitFor(loop_, pa_context_get_source_info_by_name(context_, name.c_str(), sourceInfoArrived, &query));
    pa_threaded_mainloop_unlock(loop_);
    return query.info;
}

int PulseAudioBackend::addDefaultSourceListener(std::function<void(const std::string&)> listener)
{
    {
        std::lock_guard lock(mutex_);
        ensureConnectedLocked();
    }
    std::lock_guard lock(listenerMutex_);
    int id = nextListener_++;
    listeners_[id] = std::move(listener);
    return id;
}

void PulseAudioBackend::removeDefaultSourceListener(int id)
{
    std::lock_guard lock(listenerMutex_);
    listeners_.erase(id);
}

} // namespace wl
