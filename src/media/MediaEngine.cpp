#include "media/MediaEngine.h"

#include "media/FramePool.h"
#include "media/MediaSettings.h"
#include "media/PeerFactory.h"
#include "media/PlaybackAudioDevice.h"
#include "media/PulseAudioBackend.h"
#include "media/SessionAudioDevice.h"
#include "media/SharedAudioModule.h"
#include "media/SystemAudioDevice.h"
#include "media/VideoCodecFactories.h"
#include "media/VideoFeedback.h"
#include "platform/Log.h"

#include <api/audio_codecs/audio_decoder_factory_template.h>
#include <api/audio_codecs/audio_encoder_factory_template.h>
#include <api/audio_codecs/g711/audio_decoder_g711.h>
#include <api/audio_codecs/g711/audio_encoder_g711.h>
#include <api/audio_codecs/opus/audio_decoder_opus.h>
#include <api/audio_codecs/opus/audio_encoder_opus.h>
#include <api/call/call_factory_interface.h>
#include <api/task_queue/default_task_queue_factory.h>
#include <api/transport/field_trial_based_config.h>
#include <media/engine/webrtc_media_engine.h>
#include <modules/audio_device/include/fake_audio_device.h>
#include <rtc_base/fake_network.h>
#include <rtc_base/logging.h>
#include <rtc_base/ssl_adapter.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>

namespace wl {

namespace {

SessionAudioDevice::Role sessionRole(MediaEngine::AudioRole role)
{
    return role == MediaEngine::AudioRole::hosting ? SessionAudioDevice::Role::hosting
                                                   : SessionAudioDevice::Role::helping;
}

std::unique_ptr<rtc::Thread> startThread(std::unique_ptr<rtc::Thread> thread, const char* name)
{
    thread->SetName(name, nullptr);
    thread->Start();
    return thread;
}

} // namespace

std::vector<webrtc::RtpCodecCapability> PeerFactory::preferredVideoCodecs() const
{
    auto codecs = factory_->GetRtpReceiverCapabilities(cricket::MEDIA_TYPE_VIDEO).codecs;
    auto rank = [](const webrtc::RtpCodecCapability& codec) {
        if (codec.name == "H265")
            return 0;
        if (codec.name == "H264")
            return 1;
        if (codec.name == "VP8")
            return 2;
        return 3; // rtx, red, ulpfec
    };
    std::stable_sort(codecs.begin(), codecs.end(), [&](const auto& a, const auto& b) { return rank(a) < rank(b); });
    return codecs;
}

struct MediaEngine::Impl {
    Options options;
    bool ready = false; // SSL and the threads are up
    std::unique_ptr<rtc::Thread> network;
    std::unique_ptr<rtc::Thread> worker;
    std::unique_ptr<rtc::Thread> signaling;

    std::mutex devicesLock; // the role devices are asked for on the main thread and by the factories
    std::unique_ptr<SystemAudioDevice> hosting;
    std::unique_ptr<PlaybackAudioDevice> helping;
    rtc::scoped_refptr<SessionAudioDevice> session; // over the two, made with the first factory with sound
    AudioRole role = AudioRole::hosting; // under devicesLock
    std::unique_ptr<SharedAudioModule> sound; // the module every factory with sound gets a handle of
    webrtc::FakeAudioDeviceModule silence; // the library's silent module: not reference counted, lives here

    std::shared_ptr<PeerFactory> data;
    // The screen capture's frame buffers: kept from one session to the next, so a session
    // doesn't map and fault in a fresh buffer for every frame.
    const std::shared_ptr<FramePool> frames = std::make_shared<FramePool>();

    RoleAudioDevice& device(AudioRole role);

    std::shared_ptr<PulseAudioBackend> backend()
    {
        if (!options.audio)
            options.audio = std::make_shared<PulseAudioBackend>();
        return options.audio;
    }

    // Under devicesLock.
    void makeDevicesLocked()
    {
        if (!hosting)
            hosting = std::make_unique<SystemAudioDevice>(backend(), SystemAudioDevice::Options{});
        if (!helping)
            helping = std::make_unique<PlaybackAudioDevice>(backend(), AudioIO::Options{});
    }

    rtc::scoped_refptr<webrtc::AudioDeviceModule> soundModule(bool withSound)
    {
        if (!withSound || (!options.sound && !options.module))
            return rtc::scoped_refptr<webrtc::AudioDeviceModule>(&silence);
        std::lock_guard guard(devicesLock);
        if (!sound) {
            if (options.module) {
                sound = std::make_unique<SharedAudioModule>(options.module->module);
            } else {
                makeDevicesLocked();
                session = SessionAudioDevice::create(*hosting, *helping);
                session->setCurrentRole(sessionRole(role));
                sound = std::make_unique<SharedAudioModule>(session);
            }
        }
        return sound->handle();
    }

    std::shared_ptr<PeerFactory> makeFactory(const MediaSettings& settings, std::shared_ptr<VideoFeedback> feedback,
                                             bool withSound)
    {
        if (!ready)
            return nullptr;
        webrtc::PeerConnectionFactoryDependencies deps;
        deps.network_thread = network.get();
        deps.worker_thread = worker.get();
        deps.signaling_thread = signaling.get();
        deps.task_queue_factory = webrtc::CreateDefaultTaskQueueFactory();
        deps.call_factory = webrtc::CreateCallFactory();
        deps.trials = std::make_unique<webrtc::FieldTrialBasedConfig>();

        if (options.loopbackOnly) {
            // Only 127.0.0.1: no other interface is offered, nothing leaves the machine.
            auto manager = std::make_unique<rtc::FakeNetworkManager>();
            manager->AddInterface(rtc::SocketAddress("127.0.0.1", 0), "lo");
            deps.network_manager = std::move(manager);
        }

        auto choice = std::make_shared<VideoCodecChoice>();
        choice->h265 = settings.h265;
        cricket::MediaEngineDependencies media;
        media.task_queue_factory = deps.task_queue_factory.get();
        media.adm = soundModule(withSound);
        media.audio_encoder_factory =
            webrtc::CreateAudioEncoderFactory<webrtc::AudioEncoderOpus, webrtc::AudioEncoderG711>();
        media.audio_decoder_factory =
            webrtc::CreateAudioDecoderFactory<webrtc::AudioDecoderOpus, webrtc::AudioDecoderG711>();
        // No audio processing module. Our audio devices already cancel the echo and
        // resample (SessionAudioDevice, AudioIO); the library's default processing would
        // add noise suppression and gain control on top: it would pump and thin out the
        // host's music and system sounds and process the helper's voice a second time.
        // The voice engine accepts a null module and passes captured audio straight to
        // the encoder.
        media.audio_processing = nullptr;
        media.video_encoder_factory = std::make_unique<VideoEncoderFactory>(
            choice, feedback ? std::move(feedback) : std::make_shared<VideoFeedback>());
        media.video_decoder_factory = std::make_unique<VideoDecoderFactory>(choice);
        media.trials = deps.trials.get();
        deps.media_engine = cricket::CreateMediaEngine(std::move(media));

        auto factory = webrtc::CreateModularPeerConnectionFactory(std::move(deps));
        if (!factory) {
            Log::line("Wickerlane: could not create the WebRTC peer-connection factory");
            return nullptr;
        }
        return std::make_shared<PeerFactory>(std::move(factory));
    }
};

MediaEngine::MediaEngine(Options options) : impl_(std::make_unique<Impl>())
{
    impl_->options = std::move(options);
    // The library's diagnostics and its SSL are process-wide by its own design: set once
    // here, for the one engine of the program (warnings and errors only, unless asked for).
    if (!std::getenv("WL_WEBRTC_VERBOSE"))
        rtc::LogMessage::LogToDebug(rtc::LS_WARNING);
    static const bool sslReady = rtc::InitializeSSL();
    if (!sslReady) {
        Log::line("Wickerlane: could not initialise SSL for WebRTC");
        return;
    }
    impl_->network = startThread(rtc::Thread::CreateWithSocketServer(), "wickerlane.webrtc.network");
    impl_->worker = startThread(rtc::Thread::Create(), "wickerlane.webrtc.worker");
    impl_->signaling = startThread(rtc::Thread::Create(), "wickerlane.webrtc.signaling");
    impl_->ready = true;
    if (impl_->options.loopbackOnly)
        Log::line("Wickerlane: WebRTC gathers on 127.0.0.1 only");
}

MediaEngine::~MediaEngine()
{
    // Every peer has ended: the data links' factory goes, then the sound, then the threads.
    impl_->data.reset();
    impl_->sound.reset();
    impl_->session = nullptr;
    impl_->hosting.reset();
    impl_->helping.reset();
    impl_->signaling.reset();
    impl_->worker.reset();
    impl_->network.reset();
}

bool MediaEngine::loopbackOnly() const
{
    return impl_->options.loopbackOnly;
}

RoleAudioDevice& MediaEngine::Impl::device(AudioRole role)
{
    std::lock_guard guard(devicesLock);
    makeDevicesLocked();
    if (role == AudioRole::hosting)
        return *hosting;
    return *helping;
}

bool MediaEngine::microphoneOn(AudioRole role)
{
    return impl_->device(role).io().microphoneOn.load();
}

void MediaEngine::setMicrophone(AudioRole role, bool on, std::function<void(MicrophoneResult)> completion)
{
    impl_->device(role).setMicrophone(on, std::move(completion));
}

bool MediaEngine::microphoneLeftOn(AudioRole role)
{
    return impl_->device(role).microphoneLeftOn();
}

int MediaEngine::addMicrophoneWatcher(AudioRole role, std::function<void()> watcher)
{
    return impl_->device(role).addMicrophoneWatcher(std::move(watcher));
}

void MediaEngine::removeMicrophoneWatcher(AudioRole role, int id)
{
    impl_->device(role).removeMicrophoneWatcher(id);
}

void MediaEngine::switchMicrophoneOff(AudioRole role)
{
    impl_->device(role);
    if (role == AudioRole::hosting)
        impl_->hosting->switchMicrophoneOff();
    else
        impl_->helping->switchMicrophoneOff();
}

void MediaEngine::setAudioRole(AudioRole role)
{
    rtc::scoped_refptr<SessionAudioDevice> session;
    {
        std::lock_guard guard(impl_->devicesLock);
        impl_->role = role;
        session = impl_->session;
    }
    if (session)
        session->setCurrentRole(sessionRole(role));
}

std::shared_ptr<PeerFactory> MediaEngine::sessionFactory(const MediaSettings& settings,
                                                         std::shared_ptr<VideoFeedback> feedback)
{
    return impl_->makeFactory(settings, std::move(feedback), true);
}

std::shared_ptr<PeerFactory> MediaEngine::dataFactory()
{
    if (!impl_->data)
        impl_->data = impl_->makeFactory(MediaSettings{}, nullptr, false);
    return impl_->data;
}

std::shared_ptr<FramePool> MediaEngine::framePool() const
{
    return impl_->frames;
}

} // namespace wl
