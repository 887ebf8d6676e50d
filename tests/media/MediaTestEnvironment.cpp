// Every media test runs with the shared factory made for loopback only: set the
// setting and make the factory before the first test, whatever its order.
#include "media/PeerConnectionFactory.h"
#include "platform/Defaults.h"

#include <gtest/gtest.h>

namespace {

class LoopbackOnlyEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        wl::Defaults::standard().setBool("WLLoopbackOnly", true);
        ASSERT_NE(wl::makePeerConnectionFactory(), nullptr);
    }
};

[[maybe_unused]] auto* const environment = ::testing::AddGlobalTestEnvironment(new LoopbackOnlyEnvironment);

} // namespace
