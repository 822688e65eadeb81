// Feeds arbitrary client bytes, in chunks across polls, to one acquisition session of a real
// multi-client handler, while the host's answers change under it: the request, the camera
// values, the arming bytes and whatever the client sends while recording, downloading or
// waiting to close. However the session goes, the host must hear endAcquire once for the
// acquisition, and the session must end once the client has gone.
//
// Input layout: repeated items of a control byte and up to 15 client bytes (the control's low
// four bits give the count; its high four bits change the host: ready, field ready, finished,
// and one more recorded field or a failing connection).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "sessions/acquire_mode.h"
#include "sessions/mode_table.h"
#include "sessions/session_test_support.h"
#include "toolkit/diagnostics.h"

namespace {

using Frame = RyStoreMultiClientHandlerBase::AcquireRequest::Frame;

class ScriptedAcquisitions : public session_test::NeutralAcquisitions {
public:
    bool ready = false, fieldReady = false, finished = false;
    int recorded = 0;
    std::map<int, int> requests, ends;
    unsigned char pixels[64] = {};

    bool acquireSupported() override { return true; }
    void setAcquireRequest(int id, const LuDArray<Frame>&) override { ++requests[id]; }
    bool acquireReady(int) override { return ready; }
    bool acquireFieldReady(int) override { return fieldReady; }
    int acquiredFrameCount(int) override { return recorded; }
    bool acquireRecordingFinished(int) override { return finished; }
    LuNullable<RyStoreProtocol::Timecode> acquiredTimecode(int, int field) override {
        LuNullable<RyStoreProtocol::Timecode> result;
        if (field % 2) result = RyStoreProtocol::Timecode{uint32_t(field), 0, 0, 0};
        return result;
    }
    bool acquiredImageAvailable(int, int field) override { return field % 3 != 0; }
    bool acquiredGlobsAvailable(int, int) override { return true; }
    RyStoreProtocol::ImageView acquiredImage(int, int field, int) override { return {field % 9, 7, pixels}; }
    LuDArray<RyStoreProtocol::Centroid> acquiredCentroids(int, int field, int camera) override {
        LuDArray<RyStoreProtocol::Centroid> out;
        for (int i = 0; i < field % 4; ++i) out.append({uint16_t(i), uint16_t(camera), 1});
        return out;
    }
    void endAcquire(int id) override { ++ends[id]; }
};

const SessionModeTable& modes() {
    static const SessionModeTable table{{'a', startMode<AcquireMode>, nullptr}};
    return table;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool quiet = [] {
        fy::setDiagnosticSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;

    ScriptedAcquisitions host;
    {
        session_test::FakeConfigure configure;
        configure.fakeConfig.cameras = 2;
        RyStoreMultiClientHandler handler(configure, modes());
        handler.setAcquireHandler(&host);
        auto script = std::make_shared<session_test::ScriptedConnection::Record>();
        script->incoming.push_back('a');  // the first byte: an acquisition
        handler.addClient(new session_test::ScriptedConnection(script));
        size_t position = 0;
        while (position < size && handler.clientCount() > 0) {
            uint8_t control = data[position++];
            size_t chunk = std::min<size_t>(control & 0x0F, size - position);
            script->incoming.append(reinterpret_cast<const char*>(data + position), chunk);
            position += chunk;
            switch (control >> 4) {
                case 1: host.ready = !host.ready; break;
                case 2: host.fieldReady = !host.fieldReady; break;
                case 3: host.finished = !host.finished; break;
                case 4: ++host.recorded; break;
                case 5: script->failWrites = !script->failWrites; break;
                default: break;
            }
            handler.process();
            script->written.clear();
        }
        // The client goes; a host that becomes ready and finishes lets every phase notice.
        script->peerClosed = true;
        host.ready = host.fieldReady = host.finished = true;
        for (int poll = 0; poll < 1000 && handler.clientCount() > 0; ++poll) {
            handler.process();
            script->written.clear();
        }
        if (handler.clientCount() != 0) std::abort();
    }
    if (host.ends.size() != 1 || host.ends.count(0) != 1 || host.ends[0] != 1) std::abort();
    for (const auto& [id, count] : host.requests)
        if (count != 1 || host.ends.count(id) != 1) std::abort();
    return 0;
}
