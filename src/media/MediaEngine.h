#pragma once
// The program's media engine, made once at start-up and handed down to whatever makes a
// peer connection: WebRTC's network, worker and signalling threads, the peer-connection
// factories made on them, the host's and the helper's audio devices with the role they
// play, and the WLLoopbackOnly setting, which every factory it makes honours (the port
// allocator then sees only 127.0.0.1: tests use it, nothing leaves the machine).
//
// Each session gets a factory of its own (sessionFactory): its video encoders share that
// session's VideoFeedback with its screen capture, so one session's key-frame requests,
// frame counts and picture at rest never reach another's. The factories with sound play
// and record through one module each over the engine's one audio device, which follows
// the role: hosting (system sound and microphone out, the helper's voice in) or helping
// (the host's sound in, the microphone out). Data-only links share one silent factory
// (dataFactory). Factory and module types stay in media/PeerFactory.h: this header names
// none of WebRTC.
//
// Made on the main thread; factories are asked for there. It outlives every peer made
// from it.

#include "media/MicrophoneResult.h"

#include <functional>
#include <memory>

namespace wl {

class FramePool;
class PeerFactory;
class PulseAudioBackend;
class VideoFeedback;
struct AudioModuleChoice;
struct MediaSettings;

class MediaEngine {
public:
    enum class AudioRole { hosting, helping };

    struct Options {
        bool loopbackOnly = false; // WLLoopbackOnly: gather on 127.0.0.1 only
        // The sound server of the audio devices (PulseAudio's default one when null).
        std::shared_ptr<PulseAudioBackend> audio;
        // Whether the factories play and record through the audio devices; without, they
        // carry silence (tests that need no sound).
        bool sound = true;
        // When set, the factories play and record through this module instead (tests:
        // WebRTC's test device).
        std::shared_ptr<AudioModuleChoice> module;
    };

    explicit MediaEngine(Options options);
    ~MediaEngine();
    MediaEngine(const MediaEngine&) = delete;
    MediaEngine& operator=(const MediaEngine&) = delete;

    bool loopbackOnly() const;

    // The role the factories' sound follows.
    void setAudioRole(AudioRole role);
    // The microphone of a role's device (the host's: mixed into the system sound; the
    // helper's: their voice): whether it is on; switching it (completion on the main
    // thread); switching it off at once (a session's end). The devices are made on first use.
    bool microphoneOn(AudioRole role);
    void setMicrophone(AudioRole role, bool on, std::function<void(MicrophoneResult)> completion);
    void switchMicrophoneOff(AudioRole role);
    // Whether the person left a role's microphone on: it records (microphoneOn), or its
    // input device went away and it comes back on with the next one.
    bool microphoneLeftOn(AudioRole role);
    // Called on the main thread after a role's microphone stopped or came back by itself.
    int addMicrophoneWatcher(AudioRole role, std::function<void()> watcher);
    void removeMicrophoneWatcher(AudioRole role, int id);

    // A new factory for one session, its encoders bound to feedback (a fresh one when
    // null), with the settings' codec choice. Null when the library refuses (logged).
    std::shared_ptr<PeerFactory> sessionFactory(const MediaSettings& settings,
                                                std::shared_ptr<VideoFeedback> feedback = nullptr);
    // The factory of data-only links, without sound; made on first use.
    std::shared_ptr<PeerFactory> dataFactory();

    // Where the screen capture's frame buffers come from, kept across sessions. Any thread.
    std::shared_ptr<FramePool> framePool() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace wl
