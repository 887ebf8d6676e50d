#pragma once
// What a test needs from the machine: the X server, the D-Bus session or PulseAudio.
// Outside scripts/with-test-env a missing one skips the test; inside it (which exports
// WL_WITH_TEST_ENV=1 once all three run) a missing one is a fault and fails the test.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace wl::test {

inline bool insideTestEnvironment()
{
    const char* value = std::getenv("WL_WITH_TEST_ENV");
    return value && std::strcmp(value, "1") == 0;
}

} // namespace wl::test

// Skips (or, inside scripts/with-test-env, fails) the test when `available` is false;
// `what` names the missing need. For a test body or SetUp().
#define WL_REQUIRE_TEST_ENV(available, what)                                                                           \
    do {                                                                                                               \
        if (!(available)) {                                                                                            \
            if (::wl::test::insideTestEnvironment())                                                                   \
                FAIL() << (what) << " is missing inside scripts/with-test-env";                                        \
            else                                                                                                       \
                GTEST_SKIP() << "needs " << (what) << " (scripts/with-test-env)";                                      \
        }                                                                                                              \
    } while (false)
