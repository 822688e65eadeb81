// frameyard-stress against frameyard-simhost over 127.0.0.1: the summary it prints, and that
// its exit status tells a run whose steady clients were all served from one where they were not.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "tools/tools_test_support.h"

namespace toolstest {
namespace {

using ::testing::ContainsRegex;
using ::testing::HasSubstr;

RunResult stress(int port, std::vector<std::string> words, int timeoutMs = 30000) {
    std::vector<std::string> argv{FY_STRESS_PATH, "--port", std::to_string(port)};
    argv.insert(argv.end(), words.begin(), words.end());
    return run(argv, timeoutMs);
}

TEST(StressProgram, SteadyClientsGetEveryFrameWhileEveryAbusiveKindRuns) {
    SimHost host({"--time-of-day", "--stats", "--cameras", "2"});
    ASSERT_TRUE(host.running());
    RunResult r = stress(host.port(), {"--seconds", "2", "--steady", "4", "--abusive", "16", "--clock-timecodes"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_THAT(r.out, ContainsRegex("steady: clients 4, streaming at the end 4, frames expected [0-9]+, received [0-9]+, "
                                     "lost 0, out of order 0, every client.s first frame within [0-9.]+ s, latency p50 [0-9.]+ ms"));
    EXPECT_THAT(r.out, HasSubstr("cut off 0, connections refused 0\n"));
    for (const char* kind : {"half", "staller", "bytewise", "garbage", "oversized", "reset", "churn", "silent"})
        EXPECT_THAT(r.out, ContainsRegex(std::string("\n") + kind + ": clients 2, connections [1-9]")) << kind;
    // Abuse the server must answer in its own way.
    EXPECT_THAT(r.out, ContainsRegex("bytewise: [^\n]*exchanges answered [1-9]"));
    EXPECT_THAT(r.out, ContainsRegex("oversized: [^\n]*oversized lengths sent [1-9]"));
    EXPECT_THAT(r.out, ContainsRegex("half: [^\n]*cut off 0,"));
    host.stop();
    EXPECT_THAT(host.output(), ContainsRegex("stats t=[0-9]+ descriptors=[0-9]+ rss_kib=[0-9]+ longest_ms=[0-9.]+ "
                                             "longest_without_frame_ms=[0-9.]+ clients=[0-9]+"));
}

TEST(StressProgram, FailsWhenTheServerGoesAwayUnderItsSteadyClients) {
    SimHost host({"--time-of-day"});
    ASSERT_TRUE(host.running());
    RunResult r;
    std::thread run([&] { r = stress(host.port(), {"--seconds", "3", "--steady", "3"}); });
    // The host leaves while the clients stream (the tool runs for three seconds either way).
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    host.stop();
    run.join();
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_THAT(r.out, HasSubstr("cut off 3,"));
    EXPECT_THAT(r.err, HasSubstr("a steady client stopped: the server ended the connection"));
}

TEST(StressProgram, LoadsOnlyThisMachine) {
    RunResult r = run({FY_STRESS_PATH, "--host", "192.0.2.1", "--seconds", "1"}, 10000);
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr("is not a loopback address"));
    RunResult tooMany = run({FY_STRESS_PATH, "--steady", "6000", "--abusive", "6000"}, 10000);
    EXPECT_EQ(tooMany.status, 2);
    EXPECT_THAT(tooMany.err, HasSubstr("at most 10000 clients"));
}

}  // namespace
}  // namespace toolstest
