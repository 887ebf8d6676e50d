#include "platform/CursorImages.h"

namespace wl {

namespace {
// The safe stand-in: no cursor is known.
class NoCursorImages final : public CursorImages {
public:
    std::optional<CursorImage> current() override { return std::nullopt; }
};
} // namespace

std::shared_ptr<CursorImages> CursorImages::none()
{
    return std::make_shared<NoCursorImages>();
}

} // namespace wl
