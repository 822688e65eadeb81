#include "sessions/access_policy.h"

#include <gtest/gtest.h>

#include "toolkit/diagnostics.h"

namespace {

LuNetworkAddress address(const std::string& text) {
    LuNetworkAddress parsed;
    EXPECT_TRUE(LuNetworkAddress::parse(text, parsed)) << text;
    return parsed;
}

TEST(RateLimitedLog, OneLinePerIntervalAndTheCountOfTheRestGoesWithTheNext) {
    fy::DiagnosticCapture captured;
    RateLimitedLog log;
    for (int i = 0; i < 1000; ++i) log.write(10.0 + i * 0.0009, "line " + std::to_string(i));
    EXPECT_EQ(captured.text(), "line 0\n");
    log.flush(10.95);
    EXPECT_EQ(captured.text(), "line 0\n");
    log.write(11.0, "line 1000");
    EXPECT_EQ(captured.text(), "line 0\nline 1000 (999 earlier refusals left out)\n");

    captured.clear();
    log.write(11.5, "too soon");
    log.write(11.6, "too soon");
    log.flush(11.9);
    EXPECT_EQ(captured.text(), "");
    log.flush(12.0);
    EXPECT_EQ(captured.text(), "2 more refusals left out\n");
    log.write(12.5, "too soon after the count");
    log.write(13.0, "next");
    EXPECT_EQ(captured.text(), "2 more refusals left out\nnext (1 earlier refusals left out)\n");
}

TEST(AccessPolicy, ListsAndTheLimitDecideAdmissionAndControl) {
    fy::DiagnosticCapture captured;
    AccessPolicy policy;
    EXPECT_TRUE(policy.admits(address("203.0.113.9"), 1000));
    EXPECT_TRUE(policy.controls(address("::1")));

    ASSERT_TRUE(policy.setAllowedClients("10.0.0.0/8"));
    ASSERT_TRUE(policy.setControllingClients("10.0.0.1"));
    EXPECT_FALSE(policy.setControllingClients("10.0.0.1,"));
    EXPECT_TRUE(policy.controls(address("10.0.0.1")));
    EXPECT_FALSE(policy.controls(address("10.0.0.2")));
    policy.setMaxClients(2);
    EXPECT_TRUE(policy.admits(address("10.0.0.2"), 1));
    EXPECT_FALSE(policy.admits(address("10.0.0.2"), 2));
    EXPECT_EQ(captured.text(), "Refused connection from 10.0.0.2: client limit of 2 reached\n");
    EXPECT_FALSE(policy.admits(address("11.0.0.1"), 0));
    EXPECT_FALSE(policy.admits(LuNetworkAddress(), 0));
}

}  // namespace
