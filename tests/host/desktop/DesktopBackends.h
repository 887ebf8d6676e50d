#pragma once
// The desktop backends the test executable installed (main.cpp), for tests that stand
// something in front of one for a while and put it back.
#include <memory>

namespace wl {
class LocalInput;
class CursorImages;
} // namespace wl

namespace wl::test {
std::shared_ptr<LocalInput> desktopLocalInput();
std::shared_ptr<CursorImages> desktopCursorImages();
} // namespace wl::test
