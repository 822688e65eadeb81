// Feeds arbitrary client bytes, in chunks across polls, to one realtime session while frames,
// 'r' and messages are written to it the way the multi-client handler does.
//
// Input layout: byte 0 chooses the session (bit 0: messages enabled, bits 1-2: camera list
// length); then repeated items of a control byte and up to 31 client bytes (the control's low
// five bits give the count, its high three bits the server-side action of that poll).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/frames/frame_format.h"
#include "protocol/realtime/realtime_protocol.h"
#include "protocol/realtime/realtime_protocol_test_fakes.h"
#include "toolkit/diagnostics.h"

namespace {

class IgnoringHandler : public RyStoreProtocol::RealtimeProtocol::MessageHandlerInterface {
public:
    void handleMessage(const LuStr&) override {}
};

// A session whose client has left must end once it has worked through what the client sent:
// unknown command bytes take one poll each, everything else is consumed as it comes.
void checkEndsAfterDisconnect(RyStoreProtocol::RealtimeProtocol& protocol, realtime_test::Connection& connection) {
    connection.peerCloses();
    size_t polls = connection.socket.input().unreadBytes() + 3;
    for (size_t poll = 0; poll < polls && protocol.isAlive(); ++poll) protocol.process();
    if (protocol.isAlive()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static bool quiet = [] {
        fy::setDiagnosticSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;

    bool messagesEnabled = data[0] & 1;
    int cameraCount = (data[0] >> 1) & 3;
    LuDArray<int> cameras;
    for (int i = 0; i < cameraCount; ++i) cameras.append((i * 2) % 3);

    realtime_test::Connection connection;
    realtime_test::RecordingConfig config;
    realtime_test::ScriptedFrame frame(3);
    frame.add(0, 10.0f, 20.5f);
    frame.add(2, 100.0f, 100.0f);
    frame.add(2, 600.0f, -3.0f);
    frame.addMask(2, 100.0f, 100.0f, 1.0f);
    IgnoringHandler handler;
    RyStoreProtocol::RealtimeProtocol protocol(connection.socket, config, cameras, messagesEnabled, &handler);
    RyStoreProtocol::ClientGlobs view(frame, cameras);
    RyStoreProtocol::ClientMaskInfo maskView(frame, cameras);
    const RyStoreProtocol::Timecode timecode{1, 2, 3, 4};

    size_t position = 1;
    while (position < size && protocol.isAlive()) {
        uint8_t control = data[position++];
        size_t chunk = control & 0x1F;
        if (chunk > size - position) chunk = size - position;
        connection.socket.input().append(data + position, chunk);
        position += chunk;
        switch (control >> 5) {
            case 0:
                if (protocol.isWaitingForFirstFrame()) protocol.sendReady();
                break;
            case 1:
                if (protocol.isReady() && !protocol.sendGlobs(view, timecode, maskView) && protocol.isAlive())
                    std::abort();  // a failed frame must end the session
                break;
            case 2: {
                std::vector<uint8_t> bytes = RyStoreProtocol::encodeRealtimeFrame(
                    view, timecode, maskView, protocol.compactCentroids(), protocol.sendsTimecodes(),
                    protocol.messagesEnabled());
                protocol.sendEncodedFrame(bytes.data(), bytes.size());
                break;
            }
            case 3:
                protocol.sendMessage("[\"frame_rate\",30]");
                break;
            case 4:
                connection.inner.failWrites = !connection.inner.failWrites;
                break;
            case 5:
                protocol.sendReady();  // also when not due: must be harmless
                break;
            case 6:
                protocol.sendEncodedFrame(LuSharedBytes(RyStoreProtocol::encodeRealtimeFrame(
                    view, timecode, maskView, protocol.compactCentroids(), protocol.sendsTimecodes(),
                    protocol.messagesEnabled())));
                break;
            default:
                break;
        }
        protocol.process();
        connection.takeWritten();
    }
    checkEndsAfterDisconnect(protocol, connection);
    return 0;
}
