#include "platform/CursorImages.h"

#include "platform/StandardSlot.h"

namespace wl {

namespace {
// Before start-up installs the desktop backend: no cursor is known.
class NoCursorImages final : public CursorImages {
public:
    std::optional<CursorImage> current() override { return std::nullopt; }
};
using Slot = StandardSlot<CursorImages, NoCursorImages>;
} // namespace

CursorImages& CursorImages::standard()
{
    return Slot::get();
}

void CursorImages::setStandard(std::shared_ptr<CursorImages> images)
{
    Slot::set(std::move(images));
}

} // namespace wl
