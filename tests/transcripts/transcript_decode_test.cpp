// Every transcript of docs/transcripts decoded by the client library: the server's bytes must
// read as whole items with nothing left over, and hold what the transcript's "@ expect" line
// says. With the replay test (the server still writes these bytes) this ties the library's
// decoders to the server byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "frameyard/client.h"
#include "tests/transcripts/transcript.h"

namespace {

using Counts = std::map<std::string, int>;

// The client's bytes, read in order as far as the decoders need the client's choices.
struct ClientBytes {
    std::vector<uint8_t> data;
    size_t pos = 0;
    int peek() const { return pos < data.size() ? data[pos] : -1; }
    int byte() { return pos < data.size() ? data[pos++] : -1; }
    uint16_t u16() {
        if (data.size() - pos < 2) throw frameyard::Error("client bytes end inside a request");
        pos += 2;
        return frameyard::loadU16(data.data() + pos - 2);
    }
    uint32_t u32() {
        if (data.size() - pos < 4) throw frameyard::Error("client bytes end inside a request");
        pos += 4;
        return frameyard::loadU32(data.data() + pos - 4);
    }
    uint32_t fieldList() {
        uint32_t total = 0;
        for (uint16_t unwanted = u16(); unwanted != 0xFFFF; unwanted = u16()) total += unwanted + u16();
        return total;
    }
};

// The server's bytes, taken item by item through a decoder.
struct ServerBytes {
    std::vector<uint8_t> data;
    size_t pos = 0;
    size_t left() const { return data.size() - pos; }
    void take(const std::function<size_t(const uint8_t*, size_t)>& decode, const char* what) {
        size_t used = decode(data.data() + pos, left());
        if (used == 0) throw frameyard::Error(std::string("the server's bytes end inside ") + what);
        pos += used;
    }
};

void decodeRealtime(const transcript::Transcript& t, ClientBytes& client, ServerBytes& server, bool tagged,
                    Counts& counts) {
    int option = client.byte();
    bool compact = option == 'f';
    if (compact) option = client.byte();
    bool handshake = option == 't';
    if (handshake) client.byte();
    frameyard::RealtimeFormat format;
    format.cameras = size_t(t.number("cameras"));
    format.compact = t.number("compact", compact);
    format.tagged = t.number("tagged", tagged);
    format.handshake = handshake;
    format.timecodes = handshake && client.peek() == '1';
    frameyard::RealtimeDecoder decoder(format);
    frameyard::RealtimeItem item;
    frameyard::Frame frame;
    while (server.left() > 0) {
        server.take([&](const uint8_t* d, size_t n) { return decoder.decode(d, n, item, frame); }, "a realtime item");
        if (item.kind == frameyard::RealtimeItem::Kind::frame) ++counts["frames"];
        if (item.kind == frameyard::RealtimeItem::Kind::message) {
            ++counts["messages"];
            EXPECT_TRUE(frameyard::parseJson(item.message)) << item.message;
        }
    }
}

void decodeLive(ServerBytes& server, Counts& counts) {
    frameyard::LiveDecoder decoder;
    frameyard::LiveItem item;
    while (server.left() > 0) {
        server.take([&](const uint8_t* d, size_t n) { return decoder.decode(d, n, item); }, "a live-feature item");
        if (item.kind == frameyard::LiveItem::Kind::message) {
            ++counts["messages"];
        } else {
            ++counts["frames"];
            counts["images"] += item.frame.image ? 1 : 0;
        }
    }
}

void decodeAcquisition(ClientBytes& client, ServerBytes& server, Counts& counts) {
    frameyard::AcquireRequest request;
    int mode = client.byte();
    request.centroids = mode == '0' || mode == '1';
    request.images = mode == '1' || mode == '2';
    request.startFieldId = client.u16();
    std::vector<frameyard::FieldRun> runs;
    uint32_t centroidFields = request.centroids ? client.fieldList() : 0;
    uint32_t imageFields = request.images ? client.fieldList() : 0;
    request.fields = std::max(centroidFields, imageFields);
    long steps = std::count(client.data.begin() + long(client.pos), client.data.end(), 'G');
    frameyard::AcquireDecoder decoder(request);
    frameyard::AcquireItem item;
    auto next = [&] {
        server.take([&](const uint8_t* d, size_t n) { return decoder.decode(d, n, item); }, "an acquisition item");
    };
    if (server.left() == 0) return;
    next();
    if (item.cameraCount == 0 || server.left() == 0) return;
    next();
    if (item.kind != frameyard::AcquireItem::Kind::ready) throw frameyard::Error("no 'R' where the host is ready");
    for (; steps > 0 && server.left() > 0 && server.data[server.pos] == 'r'; --steps) next();
    decoder.started();
    while (server.left() > 0) {
        next();
        if (item.kind == frameyard::AcquireItem::Kind::progress) ++counts["progress"];
        if (item.kind == frameyard::AcquireItem::Kind::field) {
            ++counts["fields"];
            counts["images"] += item.field.images ? int(item.field.cameras.size()) : 0;
        }
    }
}

void decodeConfigure(ClientBytes& client, ServerBytes& server, Counts& counts) {
    if (client.byte() != 'g') return;   // only get requests are answered
    ++counts["replies"];
    int letter = client.byte();
    std::string text;
    auto sized = [&](const uint8_t* d, size_t n) { return frameyard::decodeSized(d, n, text); };
    switch (letter) {
    case 'a': {
        frameyard::AspectAnswer answer;
        server.take([&](const uint8_t* d, size_t n) { return frameyard::decodeAspect(d, n, answer); }, "the aspect");
        break;
    }
    case 'c': {
        frameyard::CameraCountAnswer answer;
        server.take([&](const uint8_t* d, size_t n) { return frameyard::decodeCameraCount(d, n, answer); }, "the count");
        break;
    }
    case 'm':
        server.take(sized, "the mask table");
        if (!frameyard::decodeMaskTable(reinterpret_cast<const uint8_t*>(text.data()), text.size())) {
            throw frameyard::Error("a mask table that does not decode");
        }
        break;
    case 's': {
        server.take(sized, "the camera descriptions");
        auto json = frameyard::parseJson(text);
        if (!json) throw frameyard::Error("descriptions that do not parse");
        frameyard::parseCameras(*json);
        break;
    }
    case 't': {
        std::vector<int> thresholds;
        server.take([&](const uint8_t* d, size_t n) { return frameyard::decodeThresholds(d, n, thresholds); },
                    "the thresholds");
        break;
    }
    default:
        server.take(sized, "the unknown-letter answer");
    }
}

Counts decode(const transcript::Transcript& t) {
    ClientBytes client{t.allBytes(transcript::Marker::client)};
    ServerBytes server{t.allBytes(transcript::Marker::server)};
    Counts counts;
    bool tagged = false;
    // Command exchanges may come first on the same connection.
    while (client.peek() == 'C') {
        client.byte();
        uint32_t length = client.u32();
        std::string request(client.data.begin() + long(client.pos),
                            client.data.begin() + long(std::min(client.data.size(), client.pos + length)));
        client.pos += length;
        tagged = tagged || request == frameyard::enableRealtimeMessagesCommand();
        if (server.left() == 0) break;   // a request the server refused to read
        std::string reply;
        server.take([&](const uint8_t* d, size_t n) { return frameyard::decodeSized(d, n, reply); }, "a reply");
        EXPECT_TRUE(frameyard::parseJson(reply)) << reply;
        ++counts["replies"];
    }
    switch (client.byte()) {
    case 'R': decodeRealtime(t, client, server, tagged, counts); break;
    case 'f': decodeLive(server, counts); break;
    case 'a': decodeAcquisition(client, server, counts); break;
    case 'c': decodeConfigure(client, server, counts); break;
    default: break;
    }
    if (server.left() > 0) throw frameyard::Error(std::to_string(server.left()) + " server bytes left over");
    return counts;
}

std::vector<std::string> transcriptFiles() {
    std::vector<std::string> files;
    if (DIR* dir = opendir(FRAMEYARD_TRANSCRIPT_DIR)) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".txt") == 0) files.push_back(name);
        }
        closedir(dir);
    }
    std::sort(files.begin(), files.end());
    return files;
}

class TranscriptDecode : public ::testing::TestWithParam<std::string> {};

TEST_P(TranscriptDecode, TheClientLibraryReadsWhatTheServerSent) {
    transcript::Transcript t;
    std::string error;
    ASSERT_TRUE(transcript::parseFile(std::string(FRAMEYARD_TRANSCRIPT_DIR) + "/" + GetParam(), t, error)) << error;
    Counts counts;
    try {
        counts = decode(t);
    } catch (const frameyard::Error& e) {
        FAIL() << e.what();
    }
    for (const auto& [key, expected] : t.expectations()) EXPECT_EQ(counts[key], expected) << key;
}

INSTANTIATE_TEST_SUITE_P(Files, TranscriptDecode, ::testing::ValuesIn(transcriptFiles()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             return info.param.substr(0, info.param.size() - 4);
                         });

TEST(TranscriptDecodeFiles, EveryKindIsThere) {
    EXPECT_GE(transcriptFiles().size(), 20u);
}

}  // namespace
