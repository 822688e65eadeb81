#include "protocol/acquire/acquired_data_sender.h"

#include <gtest/gtest.h>

#include "net/non_blocking_socket.h"
#include "net/test_sockets.h"
#include "protocol/acquire/acquire_records.h"
#include "protocol/acquire/acquire_test_fakes.h"

using namespace acquire_test;
using RyStoreProtocol::AcquiredDataSender;
using RyStoreProtocol::Centroid;
using Result = AcquiredDataSender::Result;

namespace {

// A client connection whose reading the test controls through the inner socket's room.
struct Download {
    net_test::FakeSocket inner;
    net_test::FakeClock clock{1.0};
    NonBlockingSocket socket{inner, clock};
    ScriptedRecording recording;

    // Runs a sender over the recording until it is done, the client taking everything.
    std::string all() {
        AcquiredDataSender sender(socket, recording);
        for (int poll = 0; poll < 100000 && sender.process() == Result::sending; ++poll) {
        }
        EXPECT_EQ(sender.result(), Result::done);
        return inner.taken;
    }
};

std::string bytesOf(const std::vector<unsigned char>& pixels) { return std::string(pixels.begin(), pixels.end()); }

std::string centroidBlock(const LuDArray<Centroid>& centroids) {
    std::string out = u16(0xFFFF) + u16(uint16_t((3 * centroids.getSize() + 1) * 2)) + u16(uint16_t(centroids.getSize()));
    for (const Centroid& c : centroids) out += u16(c.x) + u16(c.y) + u16(c.flags);
    return out;
}

TEST(AcquiredDataSender, NoRecordedFieldSendsOnlyTheEndMarker) {
    Download download;
    download.recording.cameras = 2;
    EXPECT_EQ(download.all(), u16(0xFFFF));
}

TEST(AcquiredDataSender, FieldWithoutImagesOrCentroidsIsNumberTimecodeAndTwoZeros) {
    Download download;
    download.recording.cameras = 3;
    download.recording.start = 40;
    download.recording.fields.resize(2);
    download.recording.fields[0].timecode = RyStoreProtocol::Timecode{0x101, 2, 3, 0xFF04};
    EXPECT_EQ(download.all(), u16(40) + "t\x01\x02\x03\x04" + "00" + u16(41) + "00" + u16(0xFFFF));
    EXPECT_EQ(download.recording.imageCalls + download.recording.centroidCalls, 0);
}

TEST(AcquiredDataSender, FieldsCarryEachCamerasImageThenCentroids) {
    Download download;
    ScriptedRecording& r = download.recording;
    r.cameras = 2;
    r.start = 65535;  // field numbers wrap to 16 bits
    r.fields.resize(2);
    r.fields[0] = {RyStoreProtocol::Timecode{1, 2, 3, 4}, true, true,
                   {ScriptedRecording::camera(3, 2, 10, 2), ScriptedRecording::camera(2, 2, 20, 0)}};
    r.fields[1] = {std::nullopt, false, true, {ScriptedRecording::camera(1, 1, 0, 1), ScriptedRecording::camera(1, 1, 0, 3)}};
    const auto& c0 = r.fields[0].cameras;
    const auto& c1 = r.fields[1].cameras;
    std::string expected = u16(65535) + "t\x01\x02\x03\x04" + "11" +
                           u16(3) + u16(2) + bytesOf(c0[0].pixels) + centroidBlock(c0[0].centroids) +
                           u16(2) + u16(2) + bytesOf(c0[1].pixels) + centroidBlock(c0[1].centroids) +
                           u16(0) + "01" + centroidBlock(c1[0].centroids) + centroidBlock(c1[1].centroids) +
                           u16(0xFFFF);
    EXPECT_EQ(download.all(), expected);
}

TEST(AcquiredDataSender, ValuesTheWireCannotCarryAreCutOrLeftOut) {
    Download download;
    ScriptedRecording& r = download.recording;
    r.cameras = 3;
    r.fields.resize(1);
    r.fields[0].images = r.fields[0].globs = true;
    r.fields[0].cameras.resize(3);
    r.fields[0].cameras[0] = ScriptedRecording::camera(0, 0, 0, 10923);
    r.fields[0].cameras[1].image = {70000, 1, nullptr};   // too wide
    r.fields[0].cameras[2].image = {4, 4, nullptr};       // no pixels
    std::string out = download.all();
    // 10923 centroids would need a byte length of 65540; the block keeps 10922 (65534 bytes).
    ASSERT_EQ(out.substr(0, 14), u16(0) + "11" + u16(0) + u16(0) + u16(0xFFFF) + u16(65534) + u16(10922));
    size_t second = 2 + 2 + 4 + 6 + 10922 * 6;
    EXPECT_EQ(out.substr(second), u16(0) + u16(0) + centroidBlock({}) + u16(0) + u16(0) + centroidBlock({}) + u16(0xFFFF));
}

TEST(AcquiredDataSender, DownloadIsPacedByWhatTheClientTakes) {
    Download download;
    ScriptedRecording& r = download.recording;
    r.cameras = 2;
    for (int f = 0; f < 40; ++f)
        r.fields.push_back({RyStoreProtocol::Timecode{uint32_t(f), 0, 0, 0}, true, true,
                            {ScriptedRecording::camera(300, 200, f, 5), ScriptedRecording::camera(200, 300, f + 1, 7)}});
    Download reference;
    reference.recording = r;
    const std::string expected = reference.all();
    download.inner.room = 0;  // a client that reads nothing yet
    AcquiredDataSender sender(download.socket, r);
    // A poll writes at most its budget; polls go on writing up to the low mark.
    EXPECT_EQ(sender.process(), Result::sending);
    EXPECT_LT(download.socket.pendingOutput(), AcquiredDataSender::pollBudget + 120000);
    for (int poll = 0; poll < 10 && download.socket.pendingOutput() < AcquiredDataSender::lowMark; ++poll)
        sender.process();
    uint64_t pending = download.socket.pendingOutput();
    EXPECT_GE(pending, AcquiredDataSender::lowMark);
    EXPECT_LT(pending, AcquiredDataSender::lowMark + 2 * 120000) << "at most one field past the low mark";
    int imageCalls = r.imageCalls;
    EXPECT_EQ(sender.process(), Result::sending);
    EXPECT_EQ(r.imageCalls, imageCalls) << "nothing more is produced while the client takes nothing";

    // The client now reads a little per poll; the download completes byte for byte.
    int polls = 0;
    while (sender.process() == Result::sending && polls++ < 100000) {
        download.inner.room = 64 * 1024;
        EXPECT_LT(download.socket.pendingOutput(), AcquiredDataSender::lowMark + 2 * 120000);
    }
    EXPECT_EQ(sender.result(), Result::done);
    download.inner.room = size_t(-1);
    download.socket.flushOutput();
    EXPECT_EQ(download.inner.taken.size(), expected.size());
    EXPECT_TRUE(download.inner.taken == expected);
}

TEST(AcquiredDataSender, ClientThatStopsReadingIsStillCutOffByTheStallRule) {
    Download download;
    ScriptedRecording& r = download.recording;
    r.cameras = 1;
    for (int f = 0; f < 20; ++f) r.fields.push_back({std::nullopt, true, false, {ScriptedRecording::camera(500, 500, f, 0)}});
    download.inner.room = 0;
    AcquiredDataSender sender(download.socket, r);
    for (int poll = 0; poll < 5; ++poll) EXPECT_EQ(sender.process(), Result::sending);
    download.clock.time += 9.0;
    EXPECT_EQ(sender.process(), Result::sending);
    download.clock.time += 2.0;
    EXPECT_EQ(sender.process(), Result::failed);
    EXPECT_EQ(download.inner.abortCalls, 1);
}

TEST(AcquiredDataSender, LargeImagesGoInPiecesFetchedAgain) {
    Download download;
    ScriptedRecording& r = download.recording;
    r.cameras = 2;
    r.fields.resize(1);
    r.fields[0].images = true;
    r.fields[0].cameras = {ScriptedRecording::camera(3000, 3000, 7, 0), ScriptedRecording::camera(1, 1, 0, 0)};
    std::string out = download.all();
    EXPECT_EQ(out, u16(0) + "10" + u16(3000) + u16(3000) + bytesOf(r.fields[0].cameras[0].pixels) + u16(1) + u16(1) +
                       bytesOf(r.fields[0].cameras[1].pixels) + u16(0xFFFF));
    EXPECT_EQ(r.imageCalls, 3 + 1) << "9 MB in pieces of 4 MiB, and the small image once";
}

TEST(AcquiredDataSender, ImageThatChangesBetweenPiecesIsFilledWithZeros) {
    Download download;
    ScriptedRecording& r = download.recording;
    r.cameras = 1;
    r.fields.resize(1);
    r.fields[0].images = true;
    r.fields[0].cameras = {ScriptedRecording::camera(2048, 4096, 1, 0)};
    download.inner.room = 0;
    AcquiredDataSender sender(download.socket, r);
    sender.process();
    r.fields[0].cameras[0] = ScriptedRecording::camera(10, 10, 1, 0);  // the host's picture shrank
    download.inner.room = size_t(-1);
    while (sender.process() == Result::sending) {
    }
    std::string out = download.inner.taken;
    ASSERT_EQ(out.size(), 2 + 2 + 4 + 2048u * 4096 + 2);
    size_t piece = AcquiredDataSender::imagePiece;
    EXPECT_EQ(out.compare(8 + piece, 2048u * 4096 - piece, std::string(2048u * 4096 - piece, '\0')), 0);
    EXPECT_EQ(out.substr(out.size() - 2), u16(0xFFFF));
}

TEST(AcquiredDataSender, FirstFailedWriteAbandonsTheRest) {
    Download download;
    ScriptedRecording& r = download.recording;
    r.cameras = 1;
    r.fields.resize(3);
    for (auto& field : r.fields) field = {std::nullopt, true, false, {ScriptedRecording::camera(100, 100, 0, 0)}};
    download.inner.failWrites = true;
    AcquiredDataSender sender(download.socket, r);
    EXPECT_EQ(sender.process(), Result::failed);
    int calls = r.imageCalls;
    download.inner.failWrites = false;
    EXPECT_EQ(sender.process(), Result::failed);
    EXPECT_EQ(r.imageCalls, calls);
    EXPECT_EQ(download.inner.taken, "");
}

TEST(AcquireRecords, ProgressIsTruncatedInSinglePrecision) {
    EXPECT_EQ(RyStoreProtocol::acquisitionProgress(5, 10), 0x7FFF);
    EXPECT_EQ(RyStoreProtocol::acquisitionProgress(10, 10), 65535);
    EXPECT_EQ(RyStoreProtocol::acquisitionProgress(1, 3), 21845);
    EXPECT_EQ(RyStoreProtocol::acquisitionProgress(0, 0), 0);
    std::vector<uint8_t> out;
    RyStoreProtocol::appendProgressRecord(out, 100, 5, 10);
    EXPECT_EQ(std::string(out.begin(), out.end()), u16(0) + u16(105) + u16(0x7FFF));
}

}  // namespace
