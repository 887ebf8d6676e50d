#pragma once
// CursorImages on XFixes: XFixesGetCursorImage of the X display, with the cursor's
// serial. Main thread only.

#include "platform/CursorImages.h"
#include "platform/linux/XConnection.h"

#include <string>

namespace wl {

class XFixesCursorImages final : public CursorImages {
public:
    // The X display to ask; the environment's ($DISPLAY) when empty.
    explicit XFixesCursorImages(std::string displayName = {});
    ~XFixesCursorImages() override;

    std::optional<CursorImage> current() override;

private:
    XConnectionOnce x_;
};

} // namespace wl
