#pragma once
// For tests that need something of the machine rather than of frameyard: a locale with a decimal
// comma, an IPv6 loopback, a program such as tmux or nats-server, many descriptors. Without it
// such a test skips on a developer's machine. Where FRAMEYARD_TEST_PREREQUISITES=required (CI,
// whose .ci/run installs and sets up every one of them) a missing prerequisite fails the test
// instead, so that no test there passes by skipping.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace fy_test {

inline bool prerequisitesRequired() {
    const char* value = std::getenv("FRAMEYARD_TEST_PREREQUISITES");
    return value != nullptr && std::strcmp(value, "required") == 0;
}

}  // namespace fy_test

// In a test body or a fixture's SetUp(): returns from it, skipping or failing, unless
// `condition` holds. `reason` may be a chain of << operands.
#define FY_REQUIRE_PREREQUISITE(condition, reason)                                      \
    do {                                                                                \
        if (!(condition)) {                                                             \
            if (::fy_test::prerequisitesRequired()) FAIL() << "missing prerequisite: " << reason; \
            GTEST_SKIP() << reason;                                                     \
        }                                                                               \
    } while (0)
