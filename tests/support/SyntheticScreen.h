#pragma once
// A screen made in memory, for tests that need the host's capture but not a desktop:
// its displays (hand them in as the platform's displays) may change size at any time, and
// every pixel of a grab is the colour the test painted last. Its sources stand in for
// X11ScreenSource; the grabbing thread and the test may use it at once.
#include "FixedDisplays.h"

#include "platform/ScreenSource.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace wl::test {

class SyntheticScreen : public std::enable_shared_from_this<SyntheticScreen> {
public:
    struct Colour {
        std::uint8_t r = 0, g = 0, b = 0;
    };

    // One main display of 1920 x 1080, id 1.
    static std::shared_ptr<SyntheticScreen> make();

    // Where the displays lie; a grab reads them as they are then.
    const std::shared_ptr<FixedDisplays> displays;

    void paint(Colour colour);
    // A factory of sources reading this screen (for HostController::Options::screens).
    ScreenSources sources();

private:
    class Source;
    explicit SyntheticScreen(std::shared_ptr<FixedDisplays> fixed) : displays(std::move(fixed)) { }

    std::mutex lock_;
    Colour colour_;
};

} // namespace wl::test
