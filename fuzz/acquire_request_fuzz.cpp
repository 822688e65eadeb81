// Feeds arbitrary client bytes, in chunks across polls, to the acquisition request parser, and
// downloads a small recording shaped by whatever request it decoded over a client that reads
// by fits and starts.
//
// Input layout: byte 0 gives the camera count (low two bits); then repeated items of a control
// byte and up to 31 client bytes (the control's low five bits give the count; bit 5 closes the
// client's side after that chunk; bits 6-7 give how much the client reads per download poll).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/acquire/acquire_request_parser.h"
#include "protocol/acquire/acquire_test_fakes.h"
#include "protocol/acquire/acquired_data_sender.h"
#include "protocol/realtime/realtime_protocol_test_fakes.h"
#include "toolkit/diagnostics.h"

namespace {

using RyStoreProtocol::AcquiredDataSender;
using RyStoreProtocol::AcquireRequestParser;

// A recording of the requested fields (at most 8 of them), tiny images and a few centroids.
acquire_test::ScriptedRecording recordingFor(const acquire_test::RecordingBuilder& builder, int cameras) {
    acquire_test::ScriptedRecording recording;
    recording.cameras = cameras;
    size_t fields = std::max(builder.globs.size(), builder.images.size());
    if (fields > 8) fields = 8;
    for (size_t f = 0; f < fields; ++f) {
        acquire_test::FieldData field;
        field.images = f < builder.images.size() && builder.images[f];
        field.globs = f < builder.globs.size() && builder.globs[f];
        if (f % 2 == 0) field.timecode = RyStoreProtocol::Timecode{uint32_t(f), 1, 2, 3};
        for (int c = 0; c < cameras; ++c)
            field.cameras.push_back(acquire_test::ScriptedRecording::camera(int(f) + 1, c + 1, int(f), c * 3));
        recording.fields.push_back(field);
    }
    return recording;
}

void download(acquire_test::ScriptedRecording& recording, uint8_t readPace) {
    net_test::FakeSocket inner;
    net_test::FakeClock clock{1.0};
    NonBlockingSocket socket{inner, clock};
    AcquiredDataSender sender(socket, recording);
    size_t pace = size_t(1) << (readPace * 4);  // 1, 16, 256 or 4096 bytes per poll
    for (int poll = 0; poll < 200000 && sender.result() == AcquiredDataSender::Result::sending; ++poll) {
        inner.room = pace;
        sender.process();
    }
    // A client that keeps reading always gets the whole download.
    if (sender.result() != AcquiredDataSender::Result::done) std::abort();
    inner.room = size_t(-1);
    socket.flushOutput();
    if (inner.taken.size() < 2 || inner.taken.compare(inner.taken.size() - 2, 2, "\xFF\xFF") != 0) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static bool quiet = [] {
        fy::setDiagnosticSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;

    int cameras = data[0] & 3;
    realtime_test::Connection connection;
    acquire_test::RecordingBuilder builder;
    AcquireRequestParser parser(connection.socket, builder, cameras);
    uint8_t readPace = 0;
    size_t position = 1;
    while (position < size && parser.result() == AcquireRequestParser::Result::waiting) {
        uint8_t control = data[position++];
        size_t chunk = control & 0x1F;
        if (chunk > size - position) chunk = size - position;
        connection.send(std::string(reinterpret_cast<const char*>(data + position), chunk));
        position += chunk;
        if (control & 0x20) connection.peerCloses();
        readPace = control >> 6;
        parser.process();
    }
    if (builder.globs.size() > AcquireRequestParser::maxFields || builder.images.size() > AcquireRequestParser::maxFields)
        std::abort();
    // Once the client has gone, the request is over one way or the other.
    connection.peerCloses();
    if (parser.process() == AcquireRequestParser::Result::waiting) std::abort();
    if (parser.result() == AcquireRequestParser::Result::complete) {
        acquire_test::ScriptedRecording recording = recordingFor(builder, cameras);
        download(recording, readPace);
    }
    return 0;
}
