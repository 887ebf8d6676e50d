// Every media test runs with the shared factory made for loopback only: make it with
// that setting before the first test, whatever its order.
#include "media/PeerConnectionFactory.h"

#include <api/task_queue/default_task_queue_factory.h>
#include <modules/audio_device/include/test_audio_device.h>

#include <gtest/gtest.h>

namespace {

class LoopbackOnlyEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        // An audio device that records pulsed noise and discards what it plays: audio
        // tracks then really send, as they do with the program's own device.
        static auto queues = webrtc::CreateDefaultTaskQueueFactory();
        wl::factoryAudioDevice() = webrtc::TestAudioDeviceModule::Create(
            queues.get(), webrtc::TestAudioDeviceModule::CreatePulsedNoiseCapturer(8000, 48000),
            webrtc::TestAudioDeviceModule::CreateDiscardRenderer(48000));
        wl::MediaSettings loopbackOnly;
        loopbackOnly.loopbackOnly = true;
        ASSERT_NE(wl::makePeerConnectionFactory(loopbackOnly), nullptr);
    }
};

[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new LoopbackOnlyEnvironment);

} // namespace
