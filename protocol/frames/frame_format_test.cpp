#include "protocol/frames/frame_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "protocol/realtime/realtime_protocol_test_fakes.h"
#include "toolkit/diagnostics.h"

using namespace RyStoreProtocol;
using realtime_test::bytes;
using realtime_test::RecordingSocket;
using realtime_test::ScriptedFrame;

namespace {

std::string encode(const ScriptedFrame& frame, bool compact, bool timecodes = false, bool tagged = false,
                   const Timecode& timecode = Timecode{}) {
    std::vector<uint8_t> out = encodeRealtimeFrame(frame, timecode, frame, compact, timecodes, tagged);
    return std::string(out.begin(), out.end());
}

std::string f32(float value) {
    uint32_t b;
    std::memcpy(&b, &value, sizeof b);
    return bytes({uint8_t(b >> 24), uint8_t(b >> 16), uint8_t(b >> 8), uint8_t(b)});
}

}  // namespace

TEST(FixedPoint, RoundsLikeTheClientsAndStaysDefinedOutsideTheRange) {
    EXPECT_EQ(toFixedPoint(10.0f), 1280);
    EXPECT_EQ(toFixedPoint(10.004f), 1281);
    EXPECT_EQ(toFixedPoint(511.996f), 65535);
    for (float x = 0.0f; x < 512.0f; x += 0.0037f)
        ASSERT_EQ(toFixedPoint(x), uint16_t(int64_t(double(x * 128.0f) + 0.5))) << x;
    // Outside 0..512: the low 16 bits of the truncated value; NaN and infinities give 0.
    EXPECT_EQ(toFixedPoint(512.0f), 0);
    EXPECT_EQ(toFixedPoint(-1.0f), uint16_t(-127));
    EXPECT_EQ(toFixedPoint(33554428.0f), 65024) << "just below 2^32 / 128";
    EXPECT_EQ(toFixedPoint(33554436.0f), 512) << "just above it";
    EXPECT_EQ(toFixedPoint(1e30f), 0);
    EXPECT_EQ(toFixedPoint(-std::numeric_limits<float>::max()), 0);
    EXPECT_EQ(toFixedPoint(std::numeric_limits<float>::infinity()), 0);
    EXPECT_EQ(toFixedPoint(std::numeric_limits<float>::quiet_NaN()), 0);
}

TEST(RealtimeFrame, CentroidFormsTimecodeAndTag) {
    ScriptedFrame frame;
    frame.add(0, 10.0f, 20.5f);
    EXPECT_EQ(encode(frame, true), bytes({0, 1, 0x05, 0x00, 0x0A, 0x40}));
    EXPECT_EQ(encode(frame, false), bytes({0, 1}) + f32(10.0f) + f32(20.5f) + bytes({0, 1}));
    // Only the low byte of each timecode component travels; the tag's length covers it.
    EXPECT_EQ(encode(frame, true, true, true, Timecode{0x101, 0x202, 0xFF03, 4}),
              bytes({'f', 0, 0, 0, 11, 't', 1, 2, 3, 4, 0, 1, 0x05, 0x00, 0x0A, 0x40}));
    EXPECT_EQ(encode(ScriptedFrame(), false, false, true), bytes({'f', 0, 0, 0, 2, 0, 0}));
}

TEST(RealtimeFrame, KeepsTheFirst2000UnmaskedCentroidsAndLooksNoFurther) {
    ScriptedFrame frame;
    for (int i = 0; i < 2500; ++i) frame.add(0, i < 10 ? 5.0f : 400.0f, i < 10 ? 5.0f : float(i % 512));
    frame.addMask(0, 5.0f, 5.0f, 1.0f);
    std::string out = encode(frame, false);
    ASSERT_EQ(out.size(), 2u + 2000u * 10u);
    EXPECT_EQ(out.substr(0, 2), bytes({0x07, 0xD0}));
    EXPECT_EQ(out.substr(2 + 4, 4), f32(10.0f)) << "the first kept centroid is index 10";
    EXPECT_EQ(out.substr(2 + 1999 * 10 + 4, 4), f32(float(2009 % 512)));
    EXPECT_EQ(frame.lists[0].highestRead, 2009);

    // Records read as one array give the very same bytes, in both forms.
    std::string compact = encode(frame, true);
    frame.lists[0].contiguous = true;
    EXPECT_EQ(encode(frame, false), out);
    EXPECT_EQ(encode(frame, true), compact);
    EXPECT_EQ(compact.size(), 2u + 2000u * 4u);
}

TEST(RealtimeFrame, CircularMasksDropCentroidsOnOrInsideTheCircle) {
    ScriptedFrame frame;
    frame.add(0, 13.0f, 14.0f);    // exactly on the circle of radius 5 around (10, 10)
    frame.add(0, 13.0f, 14.01f);   // just outside it
    frame.add(0, 300.0f, 300.0f);  // inside the second mask only
    frame.addMask(0, 10.0f, 10.0f, 5.0f);
    frame.addMask(0, 300.0f, 300.0f, 1.0f);
    uint16_t y = toFixedPoint(14.01f);
    EXPECT_EQ(encode(frame, true), bytes({0, 1, 0x06, 0x80, uint8_t(y >> 8), uint8_t(y)}));
    frame.lists[0].contiguous = true;
    EXPECT_EQ(encode(frame, true), bytes({0, 1, 0x06, 0x80, uint8_t(y >> 8), uint8_t(y)}));
    frame.lists[0].contiguous = false;

    frame.fullyMasked[0] = true;
    frame.lists[0].highestRead = -1;
    EXPECT_EQ(encode(frame, true), bytes({0, 0}));
    EXPECT_EQ(frame.lists[0].highestRead, -1) << "a fully masked camera's globs are not examined";
}

TEST(RealtimeFrame, MaskedRecordArraysMatchTheOneAtATimeEncoding) {
    // Masked centroids split the array into runs of every length from 0 up, one run holding a
    // coordinate outside the display (converted the slow way), and the list ends on a run.
    ScriptedFrame frame;
    int masked = 0;
    for (int run = 0; run < 12; ++run) {
        for (int i = 0; i < run; ++i)
            frame.add(0, 20.0f + float(run) + 0.37f * float(i), run == 7 && i == 3 ? -3.5f : 40.0f);
        frame.add(0, 5.0f, 5.0f);
        ++masked;
    }
    frame.add(0, 100.0f, 100.0f);
    frame.addMask(0, 5.0f, 5.0f, 1.0f);
    for (bool compact : {false, true}) {
        frame.lists[0].contiguous = false;
        std::string one = encode(frame, compact);
        frame.lists[0].contiguous = true;
        std::string whole = encode(frame, compact);
        EXPECT_EQ(whole, one) << (compact ? "compact" : "full");
        size_t kept = frame.lists[0].globs.size() - size_t(masked);
        EXPECT_EQ(whole.size(), 2 + kept * (compact ? 4 : 10));
    }
}

TEST(RealtimeFrame, ClientViewsFollowTheCameraList) {
    ScriptedFrame frame(3);
    frame.add(0, 1.0f, 1.0f);
    frame.add(2, 2.0f, 2.0f);
    frame.add(2, 3.0f, 3.0f);
    frame.addMask(2, 3.0f, 3.0f, 0.5f);
    LuDArray<int> cameras;
    cameras.append(2);
    cameras.append(0);
    ClientGlobs view(frame, cameras);
    ClientMaskInfo maskView(frame, cameras);
    std::vector<uint8_t> out = encodeRealtimeFrame(view, Timecode{}, maskView, true, false, false);
    EXPECT_EQ(std::string(out.begin(), out.end()), bytes({0, 1, 1, 0, 1, 0, 0, 1, 0, 0x80, 0, 0x80}));
}

namespace {

// Takes three bytes per write until its budget is spent, then nothing.
class TrickleSocket : public RecordingSocket {
public:
    size_t budget = 10;
    int write(const void* buffer, size_t length) override {
        size_t n = std::min({length, size_t(3), budget});
        budget -= n;
        written.append(static_cast<const char*>(buffer), n);
        return static_cast<int>(n);
    }
};

}  // namespace

TEST(MessageFraming, ItemsAndWritingThemWhole) {
    RecordingSocket socket;
    EXPECT_TRUE(sendRealtimeMessage(socket, "\"ok\""));
    EXPECT_TRUE(sendLiveFeatMessage(socket, ""));
    EXPECT_EQ(socket.written, bytes({'m', 0, 0, 0, 4, '"', 'o', 'k', '"', 0xFF, 0xFF, 1, 'm', 0, 0, 0, 0}));

    TrickleSocket trickle;
    EXPECT_TRUE(writeAll(trickle, "0123456789", 10));
    EXPECT_EQ(trickle.written, "0123456789") << "partial writes are continued";
    EXPECT_FALSE(writeAll(trickle, "ab", 2)) << "a socket that takes nothing is not waited for";
}

namespace {

class ClientState : public LiveFeatClientStateInterface {
public:
    bool selected = true;
    bool images = false;
    int unacknowledged = 0;

    void setMasksMonitor(bool) override {}
    void clearSelectedCamera() override { selected = false; }
    void selectCamera(int) override { selected = true; }
    bool isCameraSelected() const override { return selected; }
    int& unacknowledgedImages() override { return unacknowledged; }
    void setSendImages(bool on) override { images = on; }
    bool sendImages() const override { return images; }
};

class Segments : public SegmentListInterface {
public:
    int count = 0;
    int segmentCount() const override { return count; }
    unsigned int value1(int i) const override { return 0x10000u + unsigned(i); }  // only the low 16 bits go
    unsigned int value2(int i) const override { return unsigned(i) * 2; }
    unsigned int value3(int) const override { return 7; }
};

}  // namespace

TEST(LiveFeatFrame, HeaderImageSegmentsAndFlowControl) {
    RecordingSocket socket;
    ClientState client;
    Segments segments;
    segments.count = 3;
    Timecode timecode{1, 2, 3, 0x104};
    EXPECT_FALSE(sendLiveFeatFrame(socket, &timecode, nullptr, client, segments).imageSent);
    EXPECT_EQ(socket.written, bytes({0xFF, 0xFF, 5, 't', 1, 2, 3, 4, 0, 3, 0, 0, 0, 0, 0, 7, 0, 1, 0, 2, 0, 7, 0, 2,
                                     0, 4, 0, 7}));

    socket.written.clear();
    client.images = true;
    segments.count = 0;
    const unsigned char pixels[6] = {9, 8, 7, 6, 5, 4};
    ImageView image{3, 2, pixels};
    EXPECT_TRUE(sendLiveFeatFrame(socket, &timecode, &image, client, segments).imageSent);
    EXPECT_EQ(socket.written, bytes({0xFF, 0xFF, 10, 't', 1, 2, 3, 4, 'i', 0, 3, 0, 2, 9, 8, 7, 6, 5, 4, 0, 0}));

    // Nothing at all without a selection, without a picture while images are on, or with two
    // pictures in flight.
    socket.written.clear();
    client.unacknowledged = 2;
    EXPECT_TRUE(sendLiveFeatFrame(socket, nullptr, &image, client, segments).ok);
    client.unacknowledged = 0;
    EXPECT_TRUE(sendLiveFeatFrame(socket, &timecode, nullptr, client, segments).ok);
    client.selected = false;
    EXPECT_TRUE(sendLiveFeatFrame(socket, &timecode, &image, client, segments).ok);
    EXPECT_EQ(socket.written, "");

    client.selected = true;
    client.images = false;
    EXPECT_FALSE(sendLiveFeatFrame(socket, nullptr, &image, client, segments).imageSent);
    EXPECT_EQ(socket.written, bytes({0, 0})) << "images off: no picture and no header";

    socket.failWrites = true;
    fy::DiagnosticCapture capture;
    EXPECT_FALSE(sendLiveFeatFrame(socket, nullptr, nullptr, client, segments).ok);
    EXPECT_EQ(capture.text(), "Failed to send segment count\n");
}

TEST(LiveFeatFrame, ValuesTheWireCannotCarryAreLeftOutOrCut) {
    RecordingSocket socket;
    ClientState client;
    client.images = true;
    Segments segments;
    const unsigned char pixel = 1;
    Timecode timecode{5, 6, 7, 8};
    for (ImageView image : {ImageView{1, 65536, &pixel}, ImageView{-1, 5, &pixel}, ImageView{4, 4, nullptr}}) {
        socket.written.clear();
        EXPECT_FALSE(sendLiveFeatFrame(socket, &timecode, &image, client, segments).imageSent);
        EXPECT_EQ(socket.written, bytes({0xFF, 0xFF, 5, 't', 5, 6, 7, 8, 0, 0})) << image.width << "x" << image.height;
    }
    socket.written.clear();
    client.images = false;
    segments.count = 70000;
    EXPECT_TRUE(sendLiveFeatFrame(socket, nullptr, nullptr, client, segments).ok);
    ASSERT_EQ(socket.written.size(), 2u + 65534u * 6u);
    EXPECT_EQ(socket.written.substr(0, 2), bytes({0xFF, 0xFE})) << "never the header marker";
}
