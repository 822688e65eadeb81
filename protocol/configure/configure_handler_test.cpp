#include "protocol/configure/configure_handler.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <tuple>
#include <limits>

#include "protocol/common/byte_order.h"
#include "protocol/command/command_test_fakes.h"
#include "toolkit/diagnostics.h"

using namespace command_test;
using namespace RyStoreProtocol;
using Task = RyStoreConfigureHandlerBase::HandleConfigurationRequestTask;

namespace {

struct Rig {
    FakeConfigureHandler handler;
    Connection connection;
    LuDArray<int> cameras = intArray({0});
    Task task{handler, connection.socket, cameras};
    fy::DiagnosticCapture diagnostics;

    // Sends the request and runs the task; the bytes the server wrote.
    std::string run(const std::string& request) {
        connection.send(request);
        task.process();
        return connection.inner.written;
    }
};

struct ConfigureTest : ::testing::Test, Rig {};

std::string maskPacket(const std::vector<uint8_t>& table) {
    std::vector<uint8_t> out;
    putU32(out, uint32_t(table.size()));
    out.insert(out.end(), table.begin(), table.end());
    return "sm" + std::string(out.begin(), out.end());
}

LuDArray<LuDArray<RyCircularMask>> tableOf(std::initializer_list<std::vector<RyCircularMask>> cameras) {
    LuDArray<LuDArray<RyCircularMask>> table;
    for (const auto& masks : cameras) {
        LuDArray<RyCircularMask> list;
        for (const auto& mask : masks) list.append(mask);
        table.append(list);
    }
    return table;
}

struct GetCase {
    const char* name;
    std::function<void(Rig&)> setUp;
    std::string request;
    std::string answer;
};

TEST(ConfigureGet, AnswersByteForByte) {
    std::vector<uint8_t> oneMask = {0, 0, 0, 25, 0, 2, 'c', 0, 0, 0, 16, 0, 0, 0, 1};
    for (float f : {1.0f, 2.0f, 0.5f}) putF32(oneMask, f);
    oneMask.insert(oneMask.end(), {'$', '$'});
    auto twoCameras = [](Rig& r) { r.cameras = intArray({1, 0}); };
    const GetCase cases[] = {
        {"aspect 1.0", nullptr, "ga", bytes({0x01, 0x00, 0x01, 0x00})},
        {"aspect 0.9", [](Rig& r) { r.handler.aspect = 0.9f; }, "ga", bytes({0x00, 0xE6, 0x01, 0x00})},
        {"count", twoCameras, "gc", bytes({0x00, 0x02, 0x00, 0x07})},
        {"count without client config", [](Rig& r) { r.handler.clientConfig = false; }, "gc", bytes({0, 1, 0, 3})},
        {"count alone", [](Rig& r) { r.handler.capabilities = false; }, "gc", bytes({0x00, 0x01})},
        {"thresholds in list order",
         [&](Rig& r) {
             twoCameras(r);
             r.handler.thresholdTable = intArray({10, 20});
         },
         "gt", bytes({0x00, 0x02, 0x00, 0x14, 0x00, 0x0A})},
        {"no masks", nullptr, "gm", bytes({0, 0, 0, 3, 0x00, 0x01, 0x24})},
        {"masks in list order",
         [&](Rig& r) {
             twoCameras(r);
             r.handler.masks = tableOf({{}, {{1.0f, 2.0f, 0.5f}}});
         },
         "gm", std::string(oneMask.begin(), oneMask.end())},
        {"settings",
         [&](Rig& r) {
             twoCameras(r);
             r.handler.fakeConfig.cameras = {FakeCamera("a"), FakeCamera("b")};
         },
         "gs", bytes({0, 0, 0, 69}) + R"([{"name":"b","number_settings":[]},{"name":"a","number_settings":[]}])"},
        {"unknown letter", nullptr, "gx", bytes({0, 0, 0, 0})},
    };
    for (const GetCase& c : cases) {
        Rig rig;
        if (c.setUp) c.setUp(rig);
        EXPECT_EQ(rig.run(c.request), c.answer) << c.name;
        EXPECT_FALSE(rig.task.isAlive()) << c.name;
    }
}

TEST(TruncatedLow16, IsDefinedForEveryFloat) {
    EXPECT_EQ(truncatedLow16(230.9f), 230);
    EXPECT_EQ(truncatedLow16(-1.5f), 0xFFFF);
    EXPECT_EQ(truncatedLow16(70000.0f), 70000 - 65536);
    EXPECT_EQ(truncatedLow16(1e30f), uint16_t(std::fmod(double(1e30f), 65536.0)));
    EXPECT_EQ(truncatedLow16(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(truncatedLow16(std::numeric_limits<float>::infinity()), 0);
}

std::string withSize(uint32_t size) {
    std::vector<uint8_t> header;
    putU32(header, size);
    return "sm" + std::string(header.begin(), header.end());
}

// Each ends the request with one diagnostic line and writes nothing (or the four zero bytes).
TEST(ConfigureFailures, ReportOneLineAndEndTheRequest) {
    const std::tuple<std::string, bool, const char*> cases[] = {
        {"gx", false, "Client requested unknown 'x'\n"},
        {"x", false, "Unknown configure option\n"},
        {"sq", false, "client set unknown config 'q'\n"},
        {"", true, "Couldn't read command in Configure().\n"},
        {"g", true, "Couldn't read command in ConfigGet().\n"},
        {"s", true, "Couldn't read command in ConfigSet().\n"},
        {"sm\x01", true, "Invalid packet size\n"},
        // Negative as a signed size, or beyond any real table: refused before allocating.
        {withSize(0x80000000u), false, "Invalid packet size\n"},
        {withSize(0xFFFFFFFFu), false, "Invalid packet size\n"},
        {withSize(1024 * 1024 + 1), false, "Invalid packet size\n"},
    };
    for (const auto& [request, closes, diagnostic] : cases) {
        Rig rig;
        if (closes) rig.connection.peerCloses();
        std::string written = rig.run(request);
        EXPECT_TRUE(written.empty() || written == bytes({0, 0, 0, 0})) << request;
        EXPECT_EQ(rig.diagnostics.text(), diagnostic) << request;
        EXPECT_FALSE(rig.task.isAlive()) << request;
        EXPECT_TRUE(rig.handler.setTables.empty()) << request;
    }
    // A packet of exactly the limit is taken and waits for its bytes.
    Rig rig;
    rig.run(withSize(1024 * 1024));
    EXPECT_TRUE(rig.task.isAlive());
    EXPECT_EQ(rig.diagnostics.text(), "");
}

TEST_F(ConfigureTest, RequestArrivingByteByByteWaitsWithoutConsumingAnything) {
    std::string request = maskPacket(encodeCircularMaskTable(tableOf({{{1, 2, 3}}, {}})));
    for (size_t i = 0; i < request.size(); ++i) {
        EXPECT_TRUE(task.isAlive()) << i;
        EXPECT_TRUE(handler.setTables.empty()) << i;
        run(request.substr(i, 1));
    }
    EXPECT_FALSE(task.isAlive());
    ASSERT_EQ(handler.setTables.size(), 1u);
    EXPECT_TRUE(handler.setTables[0] == tableOf({{{1, 2, 3}}, {}}));
    EXPECT_EQ(handler.setCameras[0], std::vector<int>{0});
    EXPECT_EQ(diagnostics.text(), "");
}

TEST_F(ConfigureTest, EmptyPacketSetsAnEmptyTable) {
    run(maskPacket({}));
    ASSERT_EQ(handler.setTables.size(), 1u);
    EXPECT_EQ(handler.setTables[0].getSize(), 0);
}

TEST_F(ConfigureTest, PacketThatIsCutShortOrDoesNotDecodeIsNotApplied) {
    std::string whole = maskPacket(encodeCircularMaskTable(tableOf({{{1, 2, 3}}})));
    run(whole.substr(0, whole.size() - 1));
    connection.peerCloses();
    task.process();
    EXPECT_FALSE(task.isAlive());
    EXPECT_TRUE(handler.setTables.empty());

    Rig undecodable;
    undecodable.run(maskPacket({0, 1, 'c', 0, 0, 0, 4}));  // record length without a mask count
    EXPECT_FALSE(undecodable.task.isAlive());
    EXPECT_TRUE(undecodable.handler.setTables.empty());
}

std::vector<uint8_t> oneMaskTable() {
    std::vector<uint8_t> table = {0, 1, 'c', 0, 0, 0, 16, 0, 0, 0, 1};
    for (int i = 0; i < 3; ++i) putF32(table, float(i));
    table.push_back('$');
    return table;
}

TEST(MaskTableDecoder, SkipsUnknownRecordsAndIgnoresTrailingBytes) {
    std::vector<uint8_t> table = {0, 2, 'z', 0, 0, 0, 5, 9, 9, 9, 9, 9, '$', 'q', '$', 7, 7};
    LuDArray<LuDArray<RyCircularMask>> decoded;
    ASSERT_TRUE(decodeCircularMaskTable(table.data(), table.size(), decoded));
    EXPECT_EQ(decoded.getSize(), 2);  // 'q' has no room for a record length: it is skipped
    EXPECT_TRUE(decoded[0].isEmpty() && decoded[1].isEmpty());

    table = oneMaskTable();
    table[6] = 20;  // padding inside the record
    table.insert(table.end() - 1, {1, 2, 3, 4});
    ASSERT_TRUE(decodeCircularMaskTable(table.data(), table.size(), decoded));
    EXPECT_TRUE(decoded == tableOf({{{0, 1, 2}}}));

    // Several records of one camera add up, in order.
    table = {0, 1};
    for (int i = 0; i < 3; ++i) {
        table.insert(table.end(), {'c', 0, 0, 0, 16, 0, 0, 0, 1});
        for (int k = 0; k < 3; ++k) putF32(table, float(i));
    }
    table.push_back('$');
    ASSERT_TRUE(decodeCircularMaskTable(table.data(), table.size(), decoded));
    EXPECT_TRUE(decoded == tableOf({{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}}));
}

TEST(MaskTableDecoder, EveryTruncationFails) {
    std::vector<uint8_t> table = oneMaskTable();
    LuDArray<LuDArray<RyCircularMask>> decoded;
    for (size_t n = 0; n < table.size(); ++n) EXPECT_FALSE(decodeCircularMaskTable(table.data(), n, decoded)) << n;
    EXPECT_TRUE(decodeCircularMaskTable(table.data(), table.size(), decoded));
}

TEST(MaskTableDecoder, HostileCountsAndLengthsFailWithoutReadingOutside) {
    std::vector<std::vector<uint8_t>> hostile = {
        {0, 1, 'c', 0, 0, 0, 16, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, '$'},  // mask count near 2^32
        {0, 1, 'c', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, '$'},               // record length near 2^32
        {0, 1, 'z', 0xFF, 0xFF, 0xFF, 0xF0, '$'},                           // skips past the end
        {0, 1, 'c', 0, 0, 0, 3, 0, 0, 0, 0, '$'},                           // shorter than its content
        {0xFF, 0xFF, '$'},                                                  // cameras without records
    };
    for (const auto& table : hostile) {
        // An exact-size copy, so that ASan sees any read past the end.
        std::vector<uint8_t> exact(table);
        LuDArray<LuDArray<RyCircularMask>> decoded;
        EXPECT_FALSE(decodeCircularMaskTable(exact.data(), exact.size(), decoded));
    }
}

TEST(MaskTableDecoder, DecodingReplacesWhatTheTableHeld) {
    LuDArray<LuDArray<RyCircularMask>> table = tableOf({{{5, 5, 5}}, {{6, 6, 6}}, {}});
    std::vector<uint8_t> bytes = oneMaskTable();
    ASSERT_TRUE(decodeCircularMaskTable(bytes.data(), bytes.size(), table));
    EXPECT_TRUE(table == tableOf({{{0, 1, 2}}}));
}

}  // namespace
