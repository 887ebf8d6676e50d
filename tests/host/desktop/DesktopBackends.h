#pragma once
// The desktop backends this test executable made on its test desktop (main.cpp): the
// displays, input, cursor and keyboard of the platform, for the parts under test.
#include "platform/Platform.h"

namespace wl::test {
const Platform& desktop();
} // namespace wl::test
