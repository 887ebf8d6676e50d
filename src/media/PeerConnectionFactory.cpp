#include "media/PeerConnectionFactory.h"

#include "media/VideoCodecFactories.h"
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

struct FactoryState {
    std::unique_ptr<rtc::Thread> network;
    std::unique_ptr<rtc::Thread> worker;
    std::unique_ptr<rtc::Thread> signaling;
    rtc::scoped_refptr<webrtc::PeerConnectionFactoryInterface> factory;
    std::shared_ptr<VideoCodecChoice> codecs = std::make_shared<VideoCodecChoice>();
};

std::mutex& factoryLock()
{
    static std::mutex lock;
    return lock;
}

// Lives for the whole process: the library's threads must outlast every peer.
FactoryState& state()
{
    static auto* s = new FactoryState;
    return *s;
}

std::unique_ptr<rtc::Thread> startThread(std::unique_ptr<rtc::Thread> thread, const char* name)
{
    thread->SetName(name, nullptr);
    thread->Start();
    return thread;
}

} // namespace

rtc::scoped_refptr<webrtc::AudioDeviceModule>& factoryAudioDevice()
{
    static auto* slot = new rtc::scoped_refptr<webrtc::AudioDeviceModule>();
    return *slot;
}

rtc::Thread* factorySignalingThread()
{
    std::lock_guard guard(factoryLock());
    return state().signaling.get();
}

rtc::Thread* factoryWorkerThread()
{
    std::lock_guard guard(factoryLock());
    return state().worker.get();
}

rtc::Thread* factoryNetworkThread()
{
    std::lock_guard guard(factoryLock());
    return state().network.get();
}

webrtc::PeerConnectionFactoryInterface* makePeerConnectionFactory(const MediaSettings& settings)
{
    std::lock_guard guard(factoryLock());
    FactoryState& s = state();
    s.codecs->h265 = settings.h265;
    if (s.factory)
        return s.factory.get();

    // The library's own diagnostics: warnings and errors only, unless asked for.
    if (!std::getenv("WL_WEBRTC_VERBOSE"))
        rtc::LogMessage::LogToDebug(rtc::LS_WARNING);

    static bool sslReady = rtc::InitializeSSL();
    if (!sslReady) {
        Log::line("Wickerlane: could not initialise SSL for WebRTC");
        return nullptr;
    }

    if (!s.network) {
        s.network = startThread(rtc::Thread::CreateWithSocketServer(), "wickerlane.webrtc.network");
        s.worker = startThread(rtc::Thread::Create(), "wickerlane.webrtc.worker");
        s.signaling = startThread(rtc::Thread::Create(), "wickerlane.webrtc.signaling");
    }

    webrtc::PeerConnectionFactoryDependencies deps;
    deps.network_thread = s.network.get();
    deps.worker_thread = s.worker.get();
    deps.signaling_thread = s.signaling.get();
    deps.task_queue_factory = webrtc::CreateDefaultTaskQueueFactory();
    deps.call_factory = webrtc::CreateCallFactory();
    deps.trials = std::make_unique<webrtc::FieldTrialBasedConfig>();

    if (settings.loopbackOnly) {
        // Only 127.0.0.1: no other interface is offered, nothing leaves the machine.
        auto network = std::make_unique<rtc::FakeNetworkManager>();
        network->AddInterface(rtc::SocketAddress("127.0.0.1", 0), "lo");
        deps.network_manager = std::move(network);
        Log::line("Wickerlane: WebRTC gathers on 127.0.0.1 only");
    }

    rtc::scoped_refptr<webrtc::AudioDeviceModule> adm = factoryAudioDevice();
    if (!adm) {
        // No audio device named: a silent one, so that video-only use still works.
        // (The library's fake is not reference counted: one for the whole process.)
        static auto* silent = new webrtc::FakeAudioDeviceModule();
        adm = rtc::scoped_refptr<webrtc::AudioDeviceModule>(silent);
    }

    cricket::MediaEngineDependencies media;
    media.task_queue_factory = deps.task_queue_factory.get();
    media.adm = adm;
    media.audio_encoder_factory =
        webrtc::CreateAudioEncoderFactory<webrtc::AudioEncoderOpus, webrtc::AudioEncoderG711>();
    media.audio_decoder_factory =
        webrtc::CreateAudioDecoderFactory<webrtc::AudioDecoderOpus, webrtc::AudioDecoderG711>();
    // No audio processing module. Our audio devices already cancel the echo and resample
    // (SessionAudioDevice, AudioIO); the library's default processing would add noise
    // suppression and gain control on top: it would pump and thin out the host's music
    // and system sounds and process the helper's voice a second time. The voice engine
    // accepts a null module and passes captured audio straight to the encoder.
    media.audio_processing = nullptr;
    media.video_encoder_factory = std::make_unique<VideoEncoderFactory>(s.codecs);
    media.video_decoder_factory = std::make_unique<VideoDecoderFactory>(s.codecs);
    media.trials = deps.trials.get();
    deps.media_engine = cricket::CreateMediaEngine(std::move(media));

    s.factory = webrtc::CreateModularPeerConnectionFactory(std::move(deps));
    if (!s.factory) {
        Log::line("Wickerlane: could not create the WebRTC peer-connection factory");
        return nullptr;
    }
    return s.factory.get();
}

std::vector<webrtc::RtpCodecCapability> preferredVideoCodecs(const MediaSettings& settings)
{
    auto* factory = makePeerConnectionFactory(settings);
    if (!factory)
        return {};
    auto codecs = factory->GetRtpReceiverCapabilities(cricket::MEDIA_TYPE_VIDEO).codecs;
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

} // namespace wl
