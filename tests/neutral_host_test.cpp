// The neutral host that every test, benchmark and tool host derives from, against the library
// these tests are built for: a host that overrides nothing can be served, offers the cameras it
// was given and nothing more, and writes each report as one line in its fixed form.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "tests/server_under_test.h"
#include "tests/test_client.h"
#include "tools/host_base/neutral_host.h"
#include "toolkit/diagnostics.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Overrides nothing, so every answer below is the base's.
class BareHost final : public hostbase::NeutralHost {
public:
    using NeutralHost::NeutralHost;
};

class NeutralHostServed : public ::testing::Test {
protected:
    void SetUp() override {
        port = listenOnFreeLoopbackPort(host);
        ASSERT_GT(port, 0);
    }

    // What a configure request's reply holds after its u32 length.
    std::string configureReply(const std::string& request) {
        TestClient client(port);
        EXPECT_TRUE(client.send(request));
        Bytes length = client.read(host, 4);
        if (length.size() != 4) return "<no reply>";
        return textOf(client.read(host, readU32(length)));
    }

    fy::DiagnosticCapture diagnostics;
    BareHost host{3};
    int port = -1;
};

TEST_F(NeutralHostServed, OffersTheGivenCamerasAt640By480WithoutSettings) {
    TestClient counting(port);
    ASSERT_TRUE(counting.send("cgc"));
    Bytes count = counting.read(host, 2);
    EXPECT_EQ(count, (Bytes{0, 3}));

    std::string descriptions = configureReply("cgs");
    std::string region = "\"image_region\":{\"left_edge_x\":10.6667,\"right_edge_x\":501.333,"
                         "\"top_edge_y\":72,\"bottom_edge_y\":440}";
    for (const char* name : {"camera0", "camera1", "camera2"})
        EXPECT_THAT(descriptions, HasSubstr(std::string("{\"name\":\"") + name + "\"," + region)) << name;
    EXPECT_THAT(descriptions, Not(HasSubstr("camera3")));
    EXPECT_THAT(descriptions, Not(HasSubstr("\"number_settings\":[{")));
}

TEST_F(NeutralHostServed, HasNoFramesAndNoAcquisitions) {
    TestClient realtime(port);
    ASSERT_TRUE(realtime.send("Rt1"));
    EXPECT_EQ(textOf(realtime.read(host, 1)), "t");
    // The start signal waits for a first frame, which never comes.
    EXPECT_TRUE(realtime.staysQuiet(host, 50));

    TestClient acquiring(port);
    ASSERT_TRUE(acquiring.send("a"));
    EXPECT_EQ(acquiring.read(host, 2), (Bytes{0, 0}));
}

TEST(NeutralHost, WritesEachReportAsOneLineWithItsPrefix) {
    fy::DiagnosticCapture diagnostics;   // the library's own lines stay out of standard error
    BareHost plain;
    BareHost named(0, "probe: ");

    testing::internal::CaptureStderr();
    plain.stopListening();
    named.setListenPort(-1);
    EXPECT_FALSE(named.startListening());
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("host warning: Not listening.\n") + "probe: error: Error binding socket: " +
                  std::strerror(EINVAL) + "\n");
}

}  // namespace
