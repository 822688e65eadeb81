#include "tools/client/acquire_client.h"

#include <gtest/gtest.h>

#include <memory>

#include "tools/client/scripted_server_test_support.h"

namespace fyclient {
namespace {

std::vector<uint8_t> words(std::initializer_list<uint16_t> values) {
    std::vector<uint8_t> out;
    for (uint16_t v : values) appendU16(out, v);
    return out;
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A one-camera server that takes a request of `requestBytes`, readies the acquisition and, once
// the client has started it, sends `recording`.
ScriptedServer oneCameraServer(size_t requestBytes, std::vector<uint8_t> recording) {
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

// Request, camera value, ready, start.
void startRecording(AcquireSession& session) {
    ASSERT_EQ(session.open(), 1);
    session.sendCameraValues({});
    ASSERT_TRUE(session.waitReady(2000));
    session.start();
}

TEST(AcquireRequestEncoding, ListsOfMoreThan65535FieldsTakeSeveralRuns) {
    AcquireRequest request;
    request.globs = true;
    request.images = true;
    request.startFieldId = 7;
    request.fields = 70000;
    request.rate = 50;
    std::vector<uint8_t> list = words({0, 65535, 0, 4465, 0xFFFF});
    EXPECT_EQ(encodeAcquireRequest(request), (std::vector<uint8_t>{'a', '1'} + words({7}) + list + list + words({50})));
    request.images = false;
    request.fields = 0;
    EXPECT_EQ(encodeAcquireRequest(request), (std::vector<uint8_t>{'a', '0'} + words({7, 0xFFFF, 50})));
}

TEST(AcquireSession, WholeExchangeFromRequestToLastField) {
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
        writeBytes(fd, words({100}) + std::vector<uint8_t>{'t', 1, 2, 3, 4, '1', '1'} + words({2, 1}) +
                           std::vector<uint8_t>{9, 8} + words({0xFFFF, 8, 1, 0x8000, 0x4000, 1}) + words({0, 0}) +
                           words({0xFFFF, 2, 0}) + words({101}) + std::vector<uint8_t>{'0', '0'} + words({0xFFFF}));
        readBytes(fd, 1);
    });
    auto connection = std::make_unique<Connection>(server.endpoint());
    AcquireRequest asked;
    asked.images = true;
    asked.startFieldId = 100;
    asked.fields = 2;
    AcquireSession session(*connection, asked);
    ASSERT_EQ(session.open(), 2);
    session.sendCameraValues({5});
    ASSERT_TRUE(session.waitReady(2000));
    ASSERT_TRUE(session.step(2000));
    session.start();
    AcquireProgress progress;
    ASSERT_EQ(session.next(2000, progress), AcquireSession::Event::progress);
    EXPECT_EQ(progress.value, 32767);
    ASSERT_EQ(session.next(2000, progress), AcquireSession::Event::progress);
    EXPECT_EQ(session.recordedFields(), 2u);
    ASSERT_EQ(session.next(2000, progress), AcquireSession::Event::data);

    auto first = session.nextField();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->number, 100);
    EXPECT_EQ(first->timecode, (std::array<uint8_t, 4>{1, 2, 3, 4}));
    ASSERT_EQ(first->cameras.size(), 2u);
    EXPECT_EQ(first->cameras[0].pixels, (std::vector<uint8_t>{9, 8}));
    ASSERT_EQ(first->cameras[0].centroids.size(), 1u);
    EXPECT_EQ(first->cameras[0].centroids[0].x, 0x8000);
    EXPECT_EQ(first->cameras[1].width, 0);
    EXPECT_TRUE(first->cameras[1].centroids.empty());
    auto second = session.nextField();
    ASSERT_TRUE(second);
    EXPECT_FALSE(second->timecode);
    EXPECT_TRUE(second->cameras.empty());
    EXPECT_FALSE(session.nextField());
    EXPECT_EQ(session.downloadedBytes(), 2u + 5 + 2 + 4 + 2 + 12 + 4 + 6 + 2 + 2 + 2);

    connection.reset();
    server.join();
    std::vector<uint8_t> list = words({0, 2, 0xFFFF});
    std::vector<uint8_t> expected = std::vector<uint8_t>{'a', '1'} + words({100}) + list + list + words({0});
    EXPECT_EQ(request, std::string(expected.begin(), expected.end()));
    EXPECT_EQ(values, std::string("\0\5\0\0\0", 5));
    EXPECT_EQ(commands, "GS");
}

TEST(AcquireSession, FieldNumbersThatLookLikeOtherRecords) {
    // Start 0: the first field's number is 0 like a progress record's first word. Start
    // 65535: the first field is numbered like the end marker.
    for (uint16_t start : {uint16_t(0), uint16_t(65535)}) {
        ScriptedServer server = oneCameraServer(2 + 2 + 6 + 2, words({0, uint16_t(start + 1), 65535, start}) +
                                                                   std::vector<uint8_t>{'0', '1'} + words({0xFFFF, 2, 0, 0xFFFF}));
        Connection connection(server.endpoint());
        AcquireRequest asked;
        asked.startFieldId = start;
        asked.fields = 1;
        AcquireSession session(connection, asked);
        startRecording(session);
        AcquireProgress progress;
        ASSERT_EQ(session.next(2000, progress), AcquireSession::Event::progress) << start;
        ASSERT_EQ(session.next(2000, progress), AcquireSession::Event::data) << start;
        auto field = session.nextField();
        ASSERT_TRUE(field) << start;
        EXPECT_EQ(field->number, start);
        EXPECT_TRUE(field->globs);
        EXPECT_FALSE(session.nextField());
    }
}

TEST(AcquireSession, FieldZeroWithATimecodeIsNotTakenForProgress) {
    // Field 0's timecode 't' 0 ... reads like a recorded count of 0x7400, which a request of
    // 100000 fields could reach; its progress value tells the two apart.
    ScriptedServer server = oneCameraServer(2 + 2 + 10 + 2, words({0, 2, progressValue(2, 100000), 0}) +
                                                                std::vector<uint8_t>{'t', 0, 1, 2, 3, '0', '0'} + words({1}) +
                                                                std::vector<uint8_t>{'0', '0'} + words({0xFFFF}));
    Connection connection(server.endpoint());
    AcquireRequest asked;
    asked.fields = 100000;
    AcquireSession session(connection, asked);
    startRecording(session);
    AcquireProgress progress;
    ASSERT_EQ(session.next(2000, progress), AcquireSession::Event::progress);
    EXPECT_EQ(session.recordedFields(), 2u);
    ASSERT_EQ(session.next(2000, progress), AcquireSession::Event::data);
    auto field = session.nextField();
    ASSERT_TRUE(field);
    EXPECT_EQ(field->timecode, (std::array<uint8_t, 4>{0, 1, 2, 3}));
    ASSERT_TRUE(session.nextField());
    EXPECT_FALSE(session.nextField());
    EXPECT_EQ(progressValue(5, 10), 0x7FFF);
}

}  // namespace
}  // namespace fyclient
