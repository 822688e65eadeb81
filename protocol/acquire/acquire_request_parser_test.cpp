#include "protocol/acquire/acquire_request_parser.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "protocol/acquire/acquire_test_fakes.h"
#include "protocol/realtime/realtime_protocol_test_fakes.h"
#include "toolkit/diagnostics.h"

using namespace acquire_test;
using RyStoreProtocol::AcquireRequestParser;
using Result = AcquireRequestParser::Result;

namespace {

struct ParserTest : ::testing::Test {
    realtime_test::Connection connection;
    RecordingBuilder builder;
    fy::DiagnosticCapture diagnostics;
    int cameras = 2;
    AcquireRequestParser parser{connection.socket, builder, cameras};

    Result feed(const std::string& bytes) {
        connection.send(bytes);
        return parser.process();
    }
    static std::string list(std::initializer_list<uint16_t> runs) {
        std::string out;
        for (uint16_t run : runs) out += u16(run);
        return out + u16(0xFFFF);
    }
};

TEST_F(ParserTest, GlobsOnlyRequestThenCameraValues) {
    EXPECT_EQ(feed("0" + u16(100) + list({2, 3}) + u16(60)), Result::waiting);
    EXPECT_EQ(connection.takeWritten(), u16(2)) << "the answer is the client's camera count";
    EXPECT_EQ(builder.summary(), "fieldCount 5, startFieldId 100, sendImages 0, sendGlobs 1, rate 60");
    EXPECT_EQ(builder.globs, (std::vector<bool>{false, false, true, true, true}));
    EXPECT_TRUE(builder.images.empty());

    // Bytes after the closing byte belong to the arming phase and stay unread.
    EXPECT_EQ(feed(u16(7) + u16(9) + "xG"), Result::complete);
    EXPECT_EQ(builder.calls.back(), "camera 1 9");
    EXPECT_EQ(builder.calls[builder.calls.size() - 2], "camera 0 7");
    EXPECT_EQ(connection.socket.input().unreadBytes(), 1u);
    EXPECT_EQ(diagnostics.text(), "");
}

TEST_F(ParserTest, ShorterListIsExtendedWithUnwantedFields) {
    feed("1" + u16(0) + list({0, 5}) + list({1, 2}) + u16(0));
    EXPECT_EQ(builder.summary(), "fieldCount 5, startFieldId 0, sendImages 1, sendGlobs 1, rate 0");
    EXPECT_EQ(builder.globs, std::vector<bool>(5, true));
    EXPECT_EQ(builder.images, (std::vector<bool>{false, true, true, false, false}));

    // The other way round: the globs list is the shorter one.
    RecordingBuilder other;
    realtime_test::Connection second;
    AcquireRequestParser parser2(second.socket, other, 0);
    second.send("1" + u16(0) + list({1, 1}) + list({0, 4}) + u16(0) + "x");
    EXPECT_EQ(parser2.process(), Result::complete);
    EXPECT_EQ(other.globs, (std::vector<bool>{false, true, false, false}));
    EXPECT_EQ(other.images, std::vector<bool>(4, true));
}

TEST_F(ParserTest, ImagesOnlyAndUnknownModes) {
    feed("2" + u16(3) + list({1, 1}) + u16(25));
    EXPECT_EQ(builder.summary(), "fieldCount 2, startFieldId 3, sendImages 1, sendGlobs 0, rate 25");
    EXPECT_EQ(builder.images, (std::vector<bool>{false, true}));

    // An unknown mode reads no list: the next two bytes are the start field id, then the rate.
    RecordingBuilder other;
    realtime_test::Connection second;
    AcquireRequestParser parser2(second.socket, other, 1);
    second.send("x" + u16(0x0102) + u16(0xFFFF));
    parser2.process();
    EXPECT_EQ(diagnostics.text(), "Error: invalid send images value\n");
    EXPECT_EQ(other.summary(), "fieldCount 0, startFieldId 258, sendImages 0, sendGlobs 0, rate 65535");
    EXPECT_EQ(other.flagCalls, 0);
}

TEST_F(ParserTest, OnlyTheUnwantedPositionEndsAList) {
    feed("0" + u16(0) + list({0, 0xFFFF, 1, 0}) + u16(0));
    EXPECT_EQ(builder.calls.front(), "fieldCount 65536");
    EXPECT_EQ(builder.globs.size(), 65536u);
    EXPECT_TRUE(builder.globs[65534]);
    EXPECT_FALSE(builder.globs[65535]);
}

TEST_F(ParserTest, RequestSentOneByteAtATimeConsumesNothingUntilWhole) {
    std::string request = "x" + u16(5) + u16(1);
    std::string values = u16(1) + u16(2) + "!";
    for (size_t i = 0; i + 1 < request.size(); ++i) {
        ASSERT_EQ(feed(request.substr(i, 1)), Result::waiting);
        EXPECT_EQ(connection.socket.input().bufferedBytes(), i + 1) << "nothing consumed yet";
    }
    EXPECT_TRUE(builder.calls.empty());
    EXPECT_EQ(connection.takeWritten(), "");
    EXPECT_EQ(feed(request.substr(request.size() - 1)), Result::waiting);
    EXPECT_EQ(connection.takeWritten(), u16(2));
    for (size_t i = 0; i + 1 < values.size(); ++i) ASSERT_EQ(feed(values.substr(i, 1)), Result::waiting);
    EXPECT_EQ(builder.calls.size(), 5u) << "no camera value before all of them arrived";
    EXPECT_EQ(feed("!"), Result::complete);
    EXPECT_EQ(builder.calls.back(), "camera 1 2");
    // The mode was decoded once, though the request was looked at once per byte.
    EXPECT_EQ(diagnostics.text(), "Error: invalid send images value\n");
}

TEST_F(ParserTest, TrickledFrameListsKeepTheirRuns) {
    std::string request = "1" + u16(9) + list({1, 2, 0, 1}) + list({3, 1}) + u16(50);
    for (char byte : request) feed(std::string(1, byte));
    EXPECT_EQ(builder.summary(), "fieldCount 4, startFieldId 9, sendImages 1, sendGlobs 1, rate 50");
    EXPECT_EQ(builder.globs, (std::vector<bool>{false, true, true, true}));
    EXPECT_EQ(builder.images, (std::vector<bool>{false, false, false, true}));
}

TEST_F(ParserTest, ClientThatLeavesEndsTheRequestAtTheFirstFailedRead) {
    feed("0" + u16(1) + u16(0));
    connection.peerCloses();
    EXPECT_EQ(parser.process(), Result::failed);
    EXPECT_TRUE(builder.calls.empty());
    EXPECT_EQ(connection.takeWritten(), "");

    // Also between the request and the camera values.
    RecordingBuilder other;
    realtime_test::Connection second;
    AcquireRequestParser parser2(second.socket, other, 2);
    second.send("x" + u16(1) + u16(1) + u16(4));
    EXPECT_EQ(parser2.process(), Result::waiting);
    second.peerCloses();
    EXPECT_EQ(parser2.process(), Result::failed);
    EXPECT_EQ(other.calls.size(), 5u);
}

TEST_F(ParserTest, FrameListsLongerThanTheBoundFailWithoutAllocating) {
    // 257 runs of 65535 wanted fields: more than 16,777,216 fields from about a kilobyte.
    std::string runs;
    for (int i = 0; i < 257; ++i) runs += u16(0) + u16(0xFFFF);
    EXPECT_EQ(feed("0" + u16(0) + runs + u16(0xFFFF) + u16(0)), Result::failed);
    EXPECT_TRUE(builder.calls.empty());
    EXPECT_EQ(builder.flagCalls, 0);
    EXPECT_EQ(connection.takeWritten(), "");
}

TEST_F(ParserTest, FrameListsAtTheBoundAreAccepted) {
    class CountingBuilder : public RecordingBuilder {
    public:
        int highest = -1;
        void setSendGlobsForFrame(int field, bool) override { highest = std::max(highest, field), ++flagCalls; }
    } counting;
    realtime_test::Connection second;
    AcquireRequestParser parser2(second.socket, counting, 0);
    std::string runs;
    for (int i = 0; i < 256; ++i) runs += u16(1) + u16(0xFFFF);
    second.send("0" + u16(0) + runs + u16(0xFFFF) + u16(0) + "x");
    EXPECT_EQ(parser2.process(), Result::complete);
    EXPECT_EQ(counting.calls.front(), "fieldCount 16777216");
    EXPECT_EQ(counting.highest, 16777215);
    EXPECT_EQ(counting.flagCalls, 16777216);
}

}  // namespace
