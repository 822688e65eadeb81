// Feeds arbitrary client bytes, in chunks across polls, to one live-feature session while host
// images of several cameras are dispatched to it the way the server does, and keeps the
// session's subscriptions as the server would.
//
// Input layout: byte 0 gives the camera list length (bits 0-1); then repeated items of a
// control byte and up to 31 client bytes (the control's low five bits give the count, its high
// three bits the server-side action of that poll).
//
// Checked: the subscription counts never go below zero and are all zero once the session has
// released them; at most two pictures are ever unacknowledged; everything written is a
// sequence of well-formed live-feature items.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "protocol/livefeat/livefeat_client_state.h"
#include "protocol/livefeat/livefeat_protocol.h"
#include "protocol/realtime/realtime_protocol_test_fakes.h"
#include "toolkit/diagnostics.h"

namespace {

using namespace RyStoreProtocol;

class Counts : public LiveFeatSubscriptionCounts {
public:
    std::map<int, int> features, images;
    void countFeatures(int camera, bool on) override { count(features, camera, on); }
    void countImages(int camera, bool on) override { count(images, camera, on); }
    bool allReleased() const { return allZero(features) && allZero(images); }

private:
    static void count(std::map<int, int>& counts, int camera, bool on) {
        int& n = counts[camera];
        n += on ? 1 : -1;
        if (n < 0 || n > 1) std::abort();  // one client holds a camera once or not at all
    }
    static bool allZero(const std::map<int, int>& counts) {
        for (const auto& entry : counts)
            if (entry.second != 0) return false;
        return true;
    }
};

class Segments : public SegmentListInterface {
public:
    int count = 0;
    int segmentCount() const override { return count; }
    unsigned int value1(int i) const override { return unsigned(i); }
    unsigned int value2(int) const override { return 0xFFFFu; }
    unsigned int value3(int i) const override { return unsigned(i) * 3; }
};

uint16_t u16At(const std::string& s, size_t at) {
    return static_cast<uint16_t>((uint8_t(s[at]) << 8) | uint8_t(s[at + 1]));
}

// Walks what the server wrote: header items (timecode, image and message entries) and
// segment blocks must each be complete and consistent.
void checkStream(const std::string& s) {
    size_t at = 0;
    while (at < s.size()) {
        if (s.size() - at < 2) std::abort();
        uint16_t word = u16At(s, at);
        at += 2;
        if (word != 0xFFFF) {
            at += size_t(word) * 6;
            if (at > s.size()) std::abort();
            continue;
        }
        if (at >= s.size()) std::abort();
        size_t headerLength = uint8_t(s[at++]);
        size_t headerEnd = at + headerLength;
        if (headerLength == 0 || headerEnd > s.size()) std::abort();
        size_t pixels = 0;
        bool message = false;
        while (at < headerEnd) {
            char entry = s[at];
            if (entry == 't') {
                at += 5;
            } else if (entry == 'i') {
                if (headerEnd - at < 5) std::abort();
                pixels = size_t(u16At(s, at + 1)) * u16At(s, at + 3);
                at += 5;
            } else if (entry == 'm') {
                message = true;
                at += 1;
            } else {
                std::abort();
            }
        }
        if (at != headerEnd) std::abort();
        at += pixels;
        if (message) {
            if (at + 4 > s.size()) std::abort();
            size_t length = (size_t(u16At(s, at)) << 16) | u16At(s, at + 2);
            at += 4 + length;
            // A message item stands alone; a frame header is followed by its segment block.
        }
        if (at > s.size()) std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static bool quiet = [] {
        fy::setDiagnosticSink([](const std::string&) {});
        return true;
    }();
    (void)quiet;

    LuDArray<int> cameras;
    for (int i = 0; i < (data[0] & 3); ++i) cameras.append((i * 2) % 3);
    realtime_test::Connection connection;
    realtime_test::RecordingConfig config;
    LuDArray<RyRectangularMask> masks;
    masks.append({1, 2, 3, 4});
    config.maskTable.append(masks);
    LiveFeatClientState state;
    Counts counts;
    std::vector<unsigned char> pixels(12, 9);
    Segments segments;
    std::string written;

    bool alive = true;
    size_t position = 1;
    while (position < size && alive) {
        uint8_t control = data[position++];
        size_t chunk = control & 0x1F;
        if (chunk > size - position) chunk = size - position;
        connection.socket.input().append(data + position, chunk);
        position += chunk;

        LiveFeatSubscription before = LiveFeatSubscription::of(state);
        LiveFeatClientStateWrapper client(state);
        alive = checkLiveFeatInputFromClient(connection.socket, cameras, config, client);
        updateLiveFeatSubscriptions(before, LiveFeatSubscription::of(state), cameras, counts);

        int action = control >> 5;
        if (action >= 1 && action <= 3) {
            Timecode timecode{static_cast<uint32_t>(position), 2, 3, 4};
            ImageView image{4, 3, pixels.data()};
            segments.count = int(chunk) * 3;
            // Every camera in turn, as the pump offers the wanted ones.
            for (int camera = 0; camera < 3; ++camera) {
                LiveFeatFrameEncoder frame(action == 3 ? nullptr : &timecode, action == 2 ? nullptr : &image,
                                           segments);
                sendLiveFeatFrameToClient(connection.socket, cameras, state, camera, frame);
            }
        } else if (action == 4) {
            connection.inner.failWrites = !connection.inner.failWrites;
        }
        if (state.unacknowledgedImages < 0 || state.unacknowledgedImages > 2) std::abort();
        written += connection.takeWritten();
    }
    if (alive) {
        // The client leaves: the next poll must end the session.
        connection.peerCloses();
        LiveFeatClientStateWrapper client(state);
        if (checkLiveFeatInputFromClient(connection.socket, cameras, config, client)) std::abort();
    }
    releaseLiveFeatSubscriptions(LiveFeatSubscription::of(state), cameras, counts);
    if (!counts.allReleased()) std::abort();
    written += connection.takeWritten();
    checkStream(written);
    return 0;
}
