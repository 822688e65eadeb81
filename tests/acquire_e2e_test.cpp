// Acquisitions end to end: the request reaches the host's callbacks, the recording is followed,
// and the download carries the host's images unchanged and its centroids in display
// coordinates, also when it is far larger than the client's output bound.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "tests/test_client.h"
#include "tests/test_host.h"
#include "toolkit/diagnostics.h"

namespace {

Bytes u16(uint16_t value) { return Bytes{static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)}; }

uint16_t getU16(const Bytes& bytes, size_t offset = 0) {
    return static_cast<uint16_t>((bytes.at(offset) << 8) | bytes.at(offset + 1));
}

// 'a', images and globs for `fields` wanted fields from `start`, rate 0.
Bytes request(uint16_t start, uint16_t fields) {
    Bytes list = u16(0) + u16(fields) + u16(0xFFFF);
    return bytesOf("a1") + u16(start) + list + list + u16(0);
}

class Acquire : public ::testing::Test {
protected:
    void SetUp() override {
        host.acquire = true;
        port = listenOnFreeLoopbackPort(host);
        ASSERT_GT(port, 0);
    }

    // A client whose request has been answered and that has started the recording.
    std::unique_ptr<TestClient> recording(uint16_t start, uint16_t fields) {
        auto client = std::make_unique<TestClient>(port);
        EXPECT_TRUE(client->send(request(start, fields) + u16(0) + u16(0) + bytesOf("x")));
        EXPECT_EQ(client->read(host, 3), u16(2) + bytesOf("R"));
        EXPECT_TRUE(client->send("S"));
        return client;
    }

    int port = freeLoopbackPort();
    TestHost host;
    fy::DiagnosticCapture diagnostics;
};

TEST_F(Acquire, ImagesPassUnchangedAndCentroidsArriveInDisplayFixedPoint) {
    host.acquisition.recorded = 1;
    host.acquisition.timecodes = host.acquisition.images = host.acquisition.globs = true;
    host.acquisition.imageWidth = 5;
    host.acquisition.imageHeight = 3;
    // The centre of a 640 x 480 camera is the display centre (256, 256); (0, 0) maps to
    // (10.67, 72).
    host.acquisition.centroids = {{320.0f, 240.0f}, {0.0f, 0.0f}};
    auto client = recording(7, 1);
    Bytes progress = client->read(host, 6);
    EXPECT_EQ(progress, u16(0) + u16(8) + u16(65535));
    Bytes head = client->read(host, 2 + 5 + 2);
    EXPECT_EQ(head, (u16(7) + Bytes{'t', 0, 1, 2, 3, '1', '1'}));
    for (int camera = 0; camera < 2; ++camera) {
        SCOPED_TRACE(camera);
        Bytes image = client->read(host, 4 + 15);
        ASSERT_EQ(image.size(), 19u);
        EXPECT_EQ(getU16(image), 5);
        EXPECT_EQ(getU16(image, 2), 3);
        for (size_t i = 0; i < 15; ++i) EXPECT_EQ(image[4 + i], TestHost::acquiredPixel(0, camera, i));
        Bytes block = client->read(host, 6 + 12);
        EXPECT_EQ(block, u16(0xFFFF) + u16(14) + u16(2) + u16(32768) + u16(32768) + u16(1) + u16(1365) +
                             u16(9216) + u16(1));
    }
    EXPECT_EQ(client->read(host, 2), u16(0xFFFF));
    ASSERT_TRUE(pumpUntil(host, [&] { return host.callCount("endAcquire") == 1; }));
    EXPECT_EQ(host.callsTo("setAcquireRequest"), std::vector<std::string>{callText("setAcquireRequest", "0,1")});
}

// 40 fields of two 1024 x 1024 images: 80 MiB, past the 64 MiB a client may have pending. A
// client that reads nothing at first and then little must still get every byte.
TEST_F(Acquire, DownloadLargerThanTheOutputBoundReachesASlowReaderWhole) {
    const int fields = 40, side = 1024;
    host.acquisition.recorded = fields;
    host.acquisition.images = host.acquisition.globs = true;
    host.acquisition.imageWidth = host.acquisition.imageHeight = side;
    host.acquisition.centroids = {{1.0f, 2.0f}};
    auto client = recording(0, fields);
    Bytes progress = client->read(host, 6);
    ASSERT_EQ(progress, u16(0) + u16(fields) + u16(65535));

    // A while without reading, then a trickle.
    pump(host, 300);
    size_t trickled = 0;
    Bytes pending;
    for (int poll = 0; poll < 300; ++poll) {
        uint8_t buffer[1024];
        ssize_t got = ::recv(client->fd(), buffer, sizeof buffer, MSG_DONTWAIT);
        if (got > 0) pending.insert(pending.end(), buffer, buffer + got), trickled += size_t(got);
        host.checkForEvent();
    }
    EXPECT_GT(trickled, 0u);

    // Another client is served meanwhile.
    TestClient other(port);
    ASSERT_TRUE(other.send(commandRequest("\"enable_realtime_messages\"")));
    EXPECT_EQ(readCommandReply(other, host), "\"ok\"");

    auto next = [&](size_t n) {
        Bytes out(pending.begin(), pending.begin() + long(std::min(n, pending.size())));
        pending.erase(pending.begin(), pending.begin() + long(out.size()));
        if (out.size() < n) {
            Bytes rest = client->read(host, n - out.size());
            out.insert(out.end(), rest.begin(), rest.end());
        }
        return out;
    };
    const Bytes block = u16(0xFFFF) + u16(8) + u16(1) + u16(0x05B7) + u16(0x24C4) + u16(1);
    for (int field = 0; field < fields; ++field) {
        SCOPED_TRACE(field);
        ASSERT_EQ(next(4), u16(uint16_t(field)) + bytesOf("11"));
        for (int camera = 0; camera < 2; ++camera) {
            ASSERT_EQ(next(4), u16(side) + u16(side));
            Bytes pixels = next(size_t(side) * side);
            ASSERT_EQ(pixels.size(), size_t(side) * side);
            for (size_t i = 0; i < pixels.size(); ++i)
                if (pixels[i] != TestHost::acquiredPixel(field, camera, i)) FAIL() << "pixel " << i << " of " << camera;
            ASSERT_EQ(next(block.size()), block);
        }
    }
    EXPECT_EQ(next(2), u16(0xFFFF));
    ASSERT_TRUE(pumpUntil(host, [&] { return host.callCount("endAcquire") == 1; }));
    EXPECT_EQ(diagnostics.text().find("Aborting socket"), std::string::npos);
    EXPECT_TRUE(client->staysQuiet(host));
}

}  // namespace
