#include "frameyard/client/acquisition.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "byte_test_support.h"
#include "scripted_server_test_support.h"

namespace frameyard {
namespace {

// A one-camera server that takes a request of `requestBytes`, readies the acquisition and, once
// the client has started it, sends `recording`.
ScriptedServer oneCameraServer(size_t requestBytes, Bytes recording) {
    return ScriptedServer([requestBytes, recording](int fd) {
        readBytes(fd, requestBytes);
        writeBytes(fd, words({1}));
        readBytes(fd, 3);
        writeBytes(fd, {'R'});
        readBytes(fd, 1);
        writeBytes(fd, recording);
        readBytes(fd, 1);
    });
}

std::vector<AcquiredField> downloadAll(Acquisition& acquisition) {
    std::vector<AcquiredField> fields;
    acquisition.download([&](const AcquiredField& field) { fields.push_back(field); });
    return fields;
}

TEST(Acquisition, WholeExchangeFromRequestToLastField) {
    std::string request, values, commands;
    ScriptedServer server([&](int fd) {
        request = readBytes(fd, 2 + 2 + 6 + 6 + 2);
        writeBytes(fd, words({2}));
        values = readBytes(fd, 5);
        writeBytes(fd, {'R'});
        commands = readBytes(fd, 1);  // 'G'
        writeBytes(fd, {'r'});
        commands += readBytes(fd, 1);  // start
        writeBytes(fd, words({0, 101, 32767, 0, 102, 65535}));
        // Field 100: timecode, images and centroids for both cameras; field 101: nothing.
        writeBytes(fd, words({100}) + Bytes{'t', 1, 2, 3, 4, '1', '1'} + words({2, 1}) + Bytes{9, 8} +
                           words({0xFFFF, 8, 1, 0x8000, 0x4000, 1}) + words({0, 0}) + words({0xFFFF, 2, 0}) +
                           words({101}) + Bytes{'0', '0'} + words({0xFFFF}));
        readBytes(fd, 1);
    });
    AcquireRequest asked;
    asked.images = true;
    asked.startFieldId = 100;
    asked.fields = 2;
    auto acquisition = std::make_unique<Acquisition>(server.endpoint(), asked, std::vector<uint16_t>{5});
    ASSERT_EQ(acquisition->cameraCount(), 2);
    ASSERT_TRUE(acquisition->waitReady(2000));
    ASSERT_TRUE(acquisition->step(2000));
    acquisition->start();
    AcquireProgress progress;
    ASSERT_TRUE(acquisition->nextProgress(progress, 2000));
    EXPECT_EQ(progress.value, 32767);
    ASSERT_TRUE(acquisition->nextProgress(progress, 2000));
    EXPECT_EQ(acquisition->recordedFields(), 2u);
    ASSERT_FALSE(acquisition->nextProgress(progress, 2000));
    ASSERT_TRUE(acquisition->downloading());

    std::vector<AcquiredField> fields = downloadAll(*acquisition);
    ASSERT_EQ(fields.size(), 2u);
    const AcquiredField& first = fields[0];
    EXPECT_EQ(first.number, 100);
    EXPECT_EQ(first.timecode, (Timecode{1, 2, 3, 4}));
    ASSERT_EQ(first.cameras.size(), 2u);
    EXPECT_EQ(first.cameras[0].pixels, (std::vector<uint8_t>{9, 8}));
    ASSERT_EQ(first.cameras[0].centroids.size(), 1u);
    EXPECT_EQ(first.cameras[0].centroids[0].x, 0x8000);
    EXPECT_EQ(first.cameras[1].width, 0);
    EXPECT_TRUE(first.cameras[1].centroids.empty());
    EXPECT_FALSE(fields[1].timecode);
    EXPECT_TRUE(fields[1].cameras.empty());
    EXPECT_EQ(acquisition->downloadedBytes(), 2u + 5 + 2 + 4 + 2 + 12 + 4 + 6 + 2 + 2 + 2);

    acquisition.reset();
    server.join();
    Bytes list = words({0, 2, 0xFFFF});
    Bytes expected = Bytes{'a', '1'} + words({100}) + list + list + words({0});
    EXPECT_EQ(request, std::string(expected.begin(), expected.end()));
    EXPECT_EQ(values, std::string("\0\5\0\0\0", 5));
    EXPECT_EQ(commands, "GS");
}

// A step whose answer comes late is waited for again without a second 'G'.
TEST(Acquisition, AStepAnsweredLateIsWaitedForWithoutAnotherStep) {
    std::string steps;
    ScriptedServer server([&](int fd) {
        readBytes(fd, 2 + 2 + 6 + 2);
        writeBytes(fd, words({1}));
        readBytes(fd, 3);
        writeBytes(fd, {'R'});
        steps = readBytes(fd, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        writeBytes(fd, {'r'});
        steps += readBytes(fd, 1);
    });
    AcquireRequest asked;
    asked.fields = 1;
    auto acquisition = std::make_unique<Acquisition>(server.endpoint(), asked);
    ASSERT_TRUE(acquisition->waitReady(2000));
    EXPECT_FALSE(acquisition->step(1));
    EXPECT_TRUE(acquisition->waitStepped(2000));
    acquisition->stop();
    acquisition.reset();
    server.join();
    EXPECT_EQ(steps, "Gs");
}

TEST(Acquisition, FieldNumbersThatLookLikeOtherRecords) {
    // Start 0: the first field's number is 0 like a progress record's first word. Start
    // 65535: the first field is numbered like the end marker.
    for (uint16_t start : {uint16_t(0), uint16_t(65535)}) {
        ScriptedServer server = oneCameraServer(2 + 2 + 6 + 2, words({0, uint16_t(start + 1), 65535, start}) +
                                                                   Bytes{'0', '1'} + words({0xFFFF, 2, 0, 0xFFFF}));
        AcquireRequest asked;
        asked.startFieldId = start;
        asked.fields = 1;
        Acquisition acquisition(server.endpoint(), asked);
        ASSERT_TRUE(acquisition.waitReady(2000));
        acquisition.start();
        AcquireProgress progress;
        ASSERT_TRUE(acquisition.nextProgress(progress, 2000)) << start;
        ASSERT_FALSE(acquisition.nextProgress(progress, 2000)) << start;
        ASSERT_TRUE(acquisition.downloading()) << start;
        std::vector<AcquiredField> fields = downloadAll(acquisition);
        ASSERT_EQ(fields.size(), 1u) << start;
        EXPECT_EQ(fields[0].number, start);
        EXPECT_TRUE(fields[0].centroids);
    }
}

TEST(Acquisition, FieldZeroWithATimecodeIsNotTakenForProgress) {
    // Field 0's timecode 't' 0 ... reads like a recorded count of 0x7400, which a request of
    // 100000 fields could reach; its progress value tells the two apart.
    ScriptedServer server = oneCameraServer(2 + 2 + 10 + 2, words({0, 2, progressValue(2, 100000), 0}) +
                                                                Bytes{'t', 0, 1, 2, 3, '0', '0'} + words({1}) +
                                                                Bytes{'0', '0'} + words({0xFFFF}));
    AcquireRequest asked;
    asked.fields = 100000;
    Acquisition acquisition(server.endpoint(), asked);
    ASSERT_TRUE(acquisition.waitReady(2000));
    acquisition.start();
    AcquireProgress progress;
    ASSERT_TRUE(acquisition.nextProgress(progress, 2000));
    EXPECT_EQ(acquisition.recordedFields(), 2u);
    ASSERT_FALSE(acquisition.nextProgress(progress, 2000));
    std::vector<AcquiredField> fields = downloadAll(acquisition);
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_EQ(fields[0].timecode, (Timecode{0, 1, 2, 3}));
}

}  // namespace
}  // namespace frameyard
