#include "toolkit/status.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

TEST(LuStatus, SuccessSaysNothing) {
    LuStatus status;
    EXPECT_TRUE(status.ok());
    EXPECT_TRUE(static_cast<bool>(status));
    EXPECT_EQ(status.what(), "");
    EXPECT_EQ(status.error(), 0);
    EXPECT_EQ(status.message(), "");
}

TEST(LuStatus, FailureNamesTheCallAndTheSystemsReason) {
    LuStatus busy = LuStatus::failure("Error binding socket", EADDRINUSE);
    EXPECT_FALSE(busy.ok());
    EXPECT_FALSE(static_cast<bool>(busy));
    EXPECT_EQ(busy.what(), "Error binding socket");
    EXPECT_EQ(busy.error(), EADDRINUSE);
    EXPECT_EQ(busy.message(), std::string("Error binding socket: ") + std::strerror(EADDRINUSE));

    // Without a system error the text stands alone, and it is still a failure.
    LuStatus bare = LuStatus::failure("", 0);
    EXPECT_FALSE(bare.ok());
    EXPECT_EQ(LuStatus::failure("Could not listen", 0).message(), "Could not listen");
}

TEST(LuStatus, SystemFailureKeepsTheErrnoOfTheMomentItWasTaken) {
    errno = EBADF;
    LuStatus status = LuStatus::systemFailure("fcntl F_GETFL");
    errno = EINTR;
    EXPECT_FALSE(status.ok());
    EXPECT_EQ(status.error(), EBADF);
    EXPECT_EQ(status.message(), "fcntl F_GETFL: Bad file descriptor");

    LuStatus copy = status;
    status = LuStatus();
    EXPECT_TRUE(status.ok());
    EXPECT_EQ(copy.message(), "fcntl F_GETFL: Bad file descriptor");
}
