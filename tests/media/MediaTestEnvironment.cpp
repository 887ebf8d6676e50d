// Every media test's peers come from one engine made for loopback only, with WebRTC's test
// audio device: make it before the first test, whatever its order.
#include "LoopbackPeers.h"

#include <gtest/gtest.h>

namespace {

class LoopbackOnlyEnvironment : public ::testing::Environment {
public:
    void SetUp() override { wl::test::noisyEngine(); }
};

[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new LoopbackOnlyEnvironment);

} // namespace
