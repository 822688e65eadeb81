#include "net/socket_functions.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>

#include "net/test_sockets.h"
#include "toolkit/diagnostics.h"
#include "toolkit/test_prerequisite.h"

using net_test::LoopbackPair;

namespace {

// Polls until the descriptor is readable or two seconds have passed.
bool readableSoon(int descriptor) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < deadline)
        if (LuSocketWaitForInput(&descriptor, nullptr, 1, 0, 20000) > 0) return true;
    return false;
}

int closedDescriptorNumber() {
    int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    ::close(descriptor);
    return descriptor;
}

}  // namespace

TEST(SocketWaitForInput, CountZeroReturnsAtOnceWithoutTouchingFlags) {
    bool flag = true;
    EXPECT_EQ(LuSocketWaitForInput(nullptr, &flag, 0, 0, 0), 0);
    EXPECT_EQ(LuSocketWaitForInput(nullptr, &flag, 0, -1, 0), 0);
    EXPECT_TRUE(flag);
}

TEST(SocketWaitForInput, FlagsTheReadyDescriptorsAndFailsOnAClosedOne) {
    LoopbackPair a, b;
    ASSERT_TRUE(a.ok() && b.ok());
    ASSERT_EQ(::write(b.client, "x", 1), 1);
    ASSERT_TRUE(readableSoon(b.server));
    int set[] = {a.server, b.server, -1};
    bool flags[] = {true, false, true};
    EXPECT_EQ(LuSocketWaitForInput(set, flags, 3, -1, 0), 1);  // no limit: returns since b is ready
    EXPECT_FALSE(flags[0]);
    EXPECT_TRUE(flags[1]);
    EXPECT_FALSE(flags[2]);

    int closed[] = {b.server, closedDescriptorNumber()};
    EXPECT_EQ(LuSocketWaitForInput(closed, flags, 2, 0, 0), -1);
    EXPECT_FALSE(LuSocketIsReadable(closed[1]));
}

// Descriptor numbers at and above FD_SETSIZE are ordinary for a server with many clients.
TEST(SocketWaitForInput, WorksForDescriptorsAboveTheSelectLimit) {
    rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    FY_REQUIRE_PREREQUISITE(saved.rlim_max == RLIM_INFINITY || saved.rlim_max >= 1600, "hard descriptor limit too low");
    rlimit raised = saved;
    if (raised.rlim_cur == RLIM_INFINITY || raised.rlim_cur < 1600) raised.rlim_cur = 1600;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &raised), 0);
    {
        LoopbackPair pair;
        ASSERT_TRUE(pair.ok());
        ASSERT_EQ(::dup2(pair.server, 1500), 1500);
        EXPECT_FALSE(LuSocketIsReadable(1500));
        ASSERT_EQ(::write(pair.client, "x", 1), 1);
        EXPECT_TRUE(readableSoon(1500));
        EXPECT_TRUE(LuSocketIsReadable(1500));
        char byte = 0;
        EXPECT_EQ(LuSocketRecv(1500, &byte, 1), 1);
        EXPECT_EQ(byte, 'x');
        ::close(1500);
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
}

TEST(SocketFunctions, NonBlockingModeFailureIsReturnedNotFatal) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    bool nonBlocking = false;
    EXPECT_TRUE(LuSocketSetNonBlocking(pair.server, true));
    EXPECT_TRUE(LuSocketIsNonBlocking(pair.server, nonBlocking));
    EXPECT_TRUE(nonBlocking);
    EXPECT_TRUE(LuSocketSetNonBlocking(pair.server, false));
    EXPECT_TRUE(LuSocketIsNonBlocking(pair.server, nonBlocking));
    EXPECT_FALSE(nonBlocking);

    fy::DiagnosticCapture capture;
    int closed = closedDescriptorNumber();
    LuStatus set = LuSocketSetNonBlocking(closed, true);
    EXPECT_FALSE(set.ok());
    EXPECT_EQ(set.message(), "fcntl F_GETFL: Bad file descriptor");
    nonBlocking = true;
    LuStatus read = LuSocketIsNonBlocking(closed, nonBlocking);
    EXPECT_EQ(read.error(), EBADF);
    EXPECT_TRUE(nonBlocking);  // a failure is not an answer
    EXPECT_EQ(capture.text(), "fcntl F_GETFL: Bad file descriptor\nfcntl F_GETFL: Bad file descriptor\n");
}

TEST(SocketFunctions, AddressesPortEmptyReadAndTimeout) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.ok());
    char text[LuSocketAddressTextSize];
    EXPECT_STREQ(LuSocketGetPeerName(pair.server, text), "127.0.0.1");
    EXPECT_STREQ(LuSocketGetSockName(pair.server, text), "127.0.0.1");
    EXPECT_EQ(LuSocketGetSockPort(pair.server), pair.port);
    EXPECT_EQ(LuSocketGetPeerName(closedDescriptorNumber(), text), nullptr);
    EXPECT_EQ(LuSocketGetSockPort(closedDescriptorNumber()), 0);
    ASSERT_EQ(::write(pair.client, "ab", 2), 2);
    ASSERT_TRUE(readableSoon(pair.server));
    EXPECT_EQ(LuSocketRecv(pair.server, text, 0), 0);  // not mistaken for a closed peer

    float seconds = -1.0f;
    EXPECT_TRUE(LuSocketSetTimeout(pair.server, 1.5f));
    ASSERT_TRUE(LuSocketGetTimeout(pair.server, seconds));
    EXPECT_NEAR(seconds, 1.5f, 0.011f);  // the kernel keeps it in clock ticks
    EXPECT_TRUE(LuSocketSetTimeout(pair.server, __builtin_nanf("")));  // must stay defined
    ASSERT_TRUE(LuSocketGetTimeout(pair.server, seconds));
    EXPECT_FLOAT_EQ(seconds, 0.0f);
}

// Failures of the calls that only succeed or fail come back with the call and the reason; only
// those that have always written a line write one.
TEST(SocketFunctions, FailuresNameTheCallAndWriteOnlyTheirEstablishedLines) {
    fy::DiagnosticCapture capture;
    int closed = closedDescriptorNumber();
    EXPECT_EQ(LuSocketBind(closed, 0).message(), "bind: Bad file descriptor");
    EXPECT_EQ(LuSocketListen(closed, 1).message(), "listen: Bad file descriptor");
    EXPECT_EQ(LuSocketSetNoDelay(closed, true).message(), "setsockopt: Bad file descriptor");
    EXPECT_EQ(LuSocketClose(closed).message(), "close: Bad file descriptor");
    float seconds = 2.0f;
    EXPECT_EQ(LuSocketGetTimeout(closed, seconds).message(), "getsockopt: Bad file descriptor");
    EXPECT_EQ(seconds, 2.0f);  // no time-out is not what a failed read-back says
    EXPECT_EQ(capture.text(), "");

    EXPECT_EQ(LuSocketSetTimeout(closed, 1.0f).error(), EBADF);
    EXPECT_EQ(LuSocketAbort(closed).message(), "setsockopt(2): Bad file descriptor");
    EXPECT_EQ(capture.text(),
              "SetSocketTimeout: setsockopt: Bad file descriptor\nsetsockopt(2): Bad file descriptor\n");
}
