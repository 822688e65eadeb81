#include "protocol/livefeat/livefeat_client_state.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/non_blocking_socket.h"
#include "net/test_sockets.h"
#include "protocol/realtime/realtime_protocol_test_fakes.h"

using namespace RyStoreProtocol;
using realtime_test::bytes;

namespace {

class RecordingCounts : public LiveFeatSubscriptionCounts {
public:
    std::vector<std::string> calls;
    void countFeatures(int camera, bool on) override { record("features", camera, on); }
    void countImages(int camera, bool on) override { record("images", camera, on); }

private:
    void record(const char* what, int camera, bool on) {
        calls.push_back(std::string(what) + " " + std::to_string(camera) + (on ? " on" : " off"));
    }
};

LiveFeatSubscription at(int position, bool images) { return {LuNullable<int>(position), images}; }

class ThreeSegments : public SegmentListInterface {
public:
    int segmentCount() const override { return 3; }
    unsigned int value1(int i) const override { return unsigned(i); }
    unsigned int value2(int) const override { return 5; }
    unsigned int value3(int) const override { return 6; }
};

}  // namespace

TEST(LiveFeatSubscriptions, SelectionChangesMoveTheCountsInOrder) {
    LuDArray<int> cameras;
    cameras.append(3);
    cameras.append(1);
    RecordingCounts counts;
    const LiveFeatSubscription none{};

    updateLiveFeatSubscriptions(none, at(0, false), cameras, counts);
    EXPECT_EQ(counts.calls, std::vector<std::string>{"features 3 on"});

    counts.calls.clear();
    updateLiveFeatSubscriptions(at(0, false), at(0, true), cameras, counts);
    updateLiveFeatSubscriptions(at(0, true), at(0, true), cameras, counts);
    EXPECT_EQ(counts.calls, std::vector<std::string>{"images 3 on"}) << "an unchanged state counts nothing";

    // A switch of camera with images on, in one poll: the four calls in this order.
    counts.calls.clear();
    updateLiveFeatSubscriptions(at(0, true), at(1, true), cameras, counts);
    EXPECT_EQ(counts.calls,
              (std::vector<std::string>{"images 3 off", "features 3 off", "images 1 on", "features 1 on"}));

    counts.calls.clear();
    updateLiveFeatSubscriptions(at(1, true), at(1, false), cameras, counts);
    EXPECT_EQ(counts.calls, std::vector<std::string>{"images 1 off"}) << "images off keeps the camera";

    counts.calls.clear();
    releaseLiveFeatSubscriptions(at(1, true), cameras, counts);
    releaseLiveFeatSubscriptions(none, cameras, counts);
    releaseLiveFeatSubscriptions(at(7, true), cameras, counts);
    EXPECT_EQ(counts.calls, (std::vector<std::string>{"images 1 off", "features 1 off"}))
        << "a position outside the list holds nothing";
}

TEST(LiveFeatSubscriptions, TurningImagesOnWithoutASelectionHoldsNothing) {
    LuDArray<int> cameras;
    cameras.append(0);
    RecordingCounts counts;
    LiveFeatSubscription none;
    LiveFeatSubscription noneWithImages;
    noneWithImages.images = true;
    updateLiveFeatSubscriptions(none, noneWithImages, cameras, counts);
    EXPECT_TRUE(counts.calls.empty());
    updateLiveFeatSubscriptions(noneWithImages, at(0, true), cameras, counts);
    EXPECT_EQ(counts.calls, (std::vector<std::string>{"images 0 on", "features 0 on"}));
}

TEST(LiveFeatDispatch, OnlyTheSelectedCameraUnderTheAcknowledgementRule) {
    LuDArray<int> cameras;
    cameras.append(2);
    cameras.append(3);
    realtime_test::Connection connection;
    LiveFeatClientState state;
    ThreeSegments segments;
    const unsigned char pixels[4] = {1, 2, 3, 4};
    ImageView image{2, 2, pixels};
    Timecode timecode{1, 2, 3, 4};
    auto dispatch = [&](int hostCamera) {
        LiveFeatFrameEncoder frame(&timecode, &image, segments);
        return sendLiveFeatFrameToClient(connection.socket, cameras, state, hostCamera, frame);
    };

    dispatch(2);
    EXPECT_EQ(connection.takeWritten(), "") << "no selection, no frame";
    state.selectedPosition = 0;
    dispatch(3);
    EXPECT_EQ(connection.takeWritten(), "") << "a frame of camera 3 is not for a client of camera 2";
    dispatch(2);
    EXPECT_EQ(connection.takeWritten().size(), 3u + 5u + 2u + 18u) << "images off: timecode and segments";

    state.sendImages = true;
    std::string withImage = bytes({0xFF, 0xFF, 10, 't', 1, 2, 3, 4, 'i', 0, 2, 0, 2, 1, 2, 3, 4, 0, 3});
    EXPECT_TRUE(dispatch(2).imageSent);
    EXPECT_TRUE(dispatch(2).imageSent);
    EXPECT_FALSE(dispatch(2).imageSent) << "the third image waits for an acknowledgement";
    EXPECT_EQ(state.unacknowledgedImages, 2);
    std::string written = connection.takeWritten();
    ASSERT_EQ(written.size(), 2 * (withImage.size() + 18));
    EXPECT_EQ(written.substr(0, withImage.size()), withImage);
    state.unacknowledgedImages = 1;
    EXPECT_TRUE(dispatch(2).imageSent);
    EXPECT_EQ(state.unacknowledgedImages, 2);
}

// A 640 x 480 picture of camera 0 with three segments, handed to several clients.
struct WholePicture {
    WholePicture() { cameras.append(0); }

    LuDArray<int> cameras;
    ThreeSegments segments;
    std::vector<unsigned char> pixels = std::vector<unsigned char>(640 * 480, 7);
    ImageView image{640, 480, pixels.data()};
    LiveFeatFrameEncoder frame{nullptr, &image, segments};
};

TEST(LiveFeatDispatch, EachFormIsEncodedOnceForAllClients) {
    WholePicture picture;
    LuDArray<int>& cameras = picture.cameras;
    LiveFeatFrameEncoder& frame = picture.frame;
    realtime_test::Connection connections[4];
    LiveFeatClientState states[4];
    for (int i = 0; i < 4; ++i) {
        states[i].selectedPosition = 0;
        states[i].sendImages = i != 3;
        sendLiveFeatFrameToClient(connections[i].socket, cameras, states[i], 0, frame);
        if (i == 2) {
            EXPECT_EQ(frame.encodedForms(), 1) << "three clients with images, one encoding";
        }
    }
    EXPECT_EQ(frame.encodedForms(), 2);
    EXPECT_EQ(connections[0].takeWritten(), connections[2].takeWritten());
    EXPECT_EQ(connections[3].takeWritten(), bytes({0, 3, 0, 0, 0, 5, 0, 6, 0, 1, 0, 5, 0, 6, 0, 2, 0, 5, 0, 6}));
}

// Clients that cannot take an image frame at once all hold the rest of the one encoded form by
// reference: no copy of the picture per client.
TEST(LiveFeatDispatch, AFrameNotTakenAtOnceWaitsByReference) {
    WholePicture picture;
    LuDArray<int>& cameras = picture.cameras;
    LiveFeatFrameEncoder& frame = picture.frame;
    size_t frameSize = 3 + 5 + picture.pixels.size() + 2 + 18;
    net_test::FakeClock clock;
    net_test::FakeSocket inner[3];
    for (int i = 0; i < 3; ++i) {
        inner[i].room = 1000;
        NonBlockingSocket socket(inner[i], clock);
        LiveFeatClientState state;
        state.selectedPosition = 0;
        state.sendImages = true;
        EXPECT_TRUE(sendLiveFeatFrameToClient(socket, cameras, state, 0, frame).imageSent);
        EXPECT_EQ(socket.pendingOutput(), frameSize - 1000);
        EXPECT_EQ(socket.writer().queue().copyBlockCount(), 0u) << "client " << i;
        inner[i].room = static_cast<size_t>(-1);
        EXPECT_EQ(socket.writer().flush(), static_cast<int>(frameSize - 1000));
    }
    EXPECT_EQ(inner[0].taken.size(), frameSize);
    EXPECT_EQ(inner[0].taken, inner[2].taken);
    EXPECT_EQ(frame.encodedForms(), 1);
}
