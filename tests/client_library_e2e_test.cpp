// The client library's facades against a real server: the server runs on a thread of its own
// here (the facades block, as the programs that use them do), and the test touches the scripted
// host only under the pump's lock.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "frameyard/client.h"
#include "tests/test_client.h"
#include "tests/test_host.h"
#include "toolkit/diagnostics.h"

namespace {

class PumpedHost {
public:
    explicit PumpedHost(int port) : port(port) { start(); }
    ~PumpedHost() { stop(); }

    // Runs `change` on the host with the pump held off.
    template <class Change>
    auto with(Change change) {
        std::lock_guard<std::mutex> hold(lock);
        return change(*host);
    }
    // Waits (pumping goes on) until `condition` holds on the host.
    template <class Condition>
    bool waitFor(Condition condition) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < deadline) {
            if (with(condition)) return true;
            std::this_thread::yield();
        }
        return false;
    }
    // The host goes away with every session, as a host that exits does; start() brings a new one.
    void stop() {
        running = false;
        if (pump.joinable()) pump.join();
        host.reset();
    }
    void start() {
        host = std::make_unique<TestHost>();
        host->setListenPort(port);
        ASSERT_TRUE(host->startListening());
        running = true;
        pump = std::thread([this] {
            while (running) with([](TestHost& h) { h.checkForEvent(); return 0; });
        });
    }

private:
    int port;
    std::mutex lock;
    std::unique_ptr<TestHost> host;
    std::atomic<bool> running{false};
    std::thread pump;
};

store::Server::Frame frameWith(std::vector<std::vector<store::Server::Centroid>> centroids, int seconds) {
    store::Server::Frame frame;
    frame.centroids = std::move(centroids);
    frame.timecode = {1, 2, seconds, 4};
    return frame;
}

class ClientLibrary : public ::testing::Test {
protected:
    // The host keeps offering frames (timecode seconds counting up) until the stream has one:
    // frames the host makes while the client still answers the start signal reach nobody.
    frameyard::Got nextFrame(frameyard::RealtimeStream& stream, frameyard::Frame& frame, std::string& message,
                             std::vector<std::vector<store::Server::Centroid>> centroids) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (std::chrono::steady_clock::now() < deadline) {
            served.with([&](TestHost& h) {
                if (h.frames.empty()) h.frames.push_back(frameWith(centroids, ++framesMade));
                return 0;
            });
            frameyard::Got got = stream.next(frame, message, 20);
            if (got != frameyard::Got::nothing) return got;
        }
        return frameyard::Got::nothing;
    }

    int framesMade = 0;
    fy::DiagnosticCapture diagnostics;
    int port = freeLoopbackPort();
    PumpedHost served{port};
    frameyard::Endpoint endpoint{"127.0.0.1", port, 3000};
};

TEST_F(ClientLibrary, HostReadsAndChangesTheConfiguration) {
    frameyard::Host host(endpoint);
    std::vector<frameyard::Camera> cameras = host.cameras();
    ASSERT_EQ(cameras.size(), 2u);
    EXPECT_EQ(cameras[1].name, "right");
    ASSERT_TRUE(cameras[0].imageRegion);
    EXPECT_EQ(host.thresholds(), (std::vector<int>{10, 20}));
    EXPECT_EQ(host.aspect().second, 256);
    EXPECT_EQ(host.cameraCount().cameras, 2);

    host.setThreshold("right", 40);
    EXPECT_TRUE(served.waitFor([](TestHost& h) { return h.callCount("setCameraThreshold") == 1; }));
    EXPECT_EQ(served.with([](TestHost& h) { return h.callsTo("setCameraThreshold"); }),
              (std::vector<std::string>{"setCameraThreshold(1,40)"}));
    EXPECT_THROW(host.setThreshold("middle", 40), frameyard::Error);
    EXPECT_THROW(host.setThreshold("left", 256), frameyard::Error);

    // Circular masks are display units on the wire and at the host alike.
    host.setCircularMasks({{{256, 256, 8}}, {}});
    EXPECT_TRUE(served.waitFor([](TestHost& h) { return h.callCount("setCameraCircularMasks") == 2; }));
    std::vector<std::string> sets = served.with([](TestHost& h) { return h.callsTo("setCameraCircularMasks"); });
    EXPECT_EQ(sets[0], "setCameraCircularMasks(0,[256,256,8])");
    EXPECT_EQ(sets[1], "setCameraCircularMasks(1,)");
    served.with([](TestHost& h) { h.circularMasks = {{{320, 240, 30}}, {}}; return 0; });
    frameyard::MaskTable back = host.circularMasks();
    ASSERT_EQ(back.size(), 2u);
    ASSERT_EQ(back[0].size(), 1u);
    EXPECT_EQ(back[0][0].x, 320.0f);
    EXPECT_TRUE(back[1].empty());

    EXPECT_EQ(host.commands({frameyard::wantCamerasCommand({"right"}), frameyard::getThresholdsCommand()}),
              (std::vector<std::string>{"\"ok\"", "[\"result\",[20]]"}));
    host.setSetting("left", "gain", 2.5);
    EXPECT_EQ(served.with([](TestHost& h) { return h.callsTo("changeCameraSetting"); }),
              (std::vector<std::string>{"changeCameraSetting(0,gain,2.5)"}));
    EXPECT_THROW(host.setSetting("middle", "gain", 2.5), frameyard::Error);
}

TEST_F(ClientLibrary, RealtimeStreamDeliversFramesAndCarriesCommands) {
    frameyard::RealtimeOptions options;
    options.cameras = {"right"};
    options.messages = true;
    frameyard::RealtimeStream stream(endpoint, options);
    EXPECT_EQ(stream.cameras(), (std::vector<std::string>{"right"}));
    frameyard::Frame frame;
    std::string message;
    std::vector<int> seconds;
    while (seconds.size() < 2 && nextFrame(stream, frame, message, {{{1, 1}}, {{320, 240}, {0, 0}}}) == frameyard::Got::frame) {
        ASSERT_EQ(frame.cameraCount(), 1u);
        ASSERT_EQ(frame.camera(0).size(), 2u);
        EXPECT_EQ(frame.camera(0)[0].x, 256.0f);   // the image centre is the display centre
        EXPECT_EQ(frame.camera(0)[0].flags, 1);
        seconds.push_back((*frame.timecode)[2]);
    }
    ASSERT_EQ(seconds.size(), 2u);
    EXPECT_LT(seconds[0], seconds[1]);

    stream.setThreshold("right", 33);
    frameyard::Got got;
    while ((got = stream.next(frame, message, 3000)) == frameyard::Got::frame) {
    }
    EXPECT_EQ(got, frameyard::Got::message);
    EXPECT_NE(message.find("setting_changed"), std::string::npos) << message;
    EXPECT_EQ(served.with([](TestHost& h) { return h.callsTo("setCameraThreshold"); }),
              (std::vector<std::string>{"setCameraThreshold(1,33)"}));
    EXPECT_THROW(stream.setThreshold("left", 1), frameyard::Error);
}

TEST_F(ClientLibrary, RealtimeStreamReconnectsWhenTheHostComesBack) {
    frameyard::RealtimeOptions options;
    options.compact = true;
    options.reconnect.enabled = true;
    options.reconnect.firstDelayMs = 20;
    std::vector<std::string> events;
    options.reconnect.onEvent = [&](const std::string& event) { events.push_back(event); };
    frameyard::RealtimeStream stream(endpoint, options);
    frameyard::Frame frame;
    std::string message;
    ASSERT_EQ(nextFrame(stream, frame, message, {{}, {{10, 10}}}), frameyard::Got::frame);

    served.stop();
    EXPECT_EQ(stream.next(frame, message, 200), frameyard::Got::nothing);
    served.start();
    ASSERT_EQ(nextFrame(stream, frame, message, {{}, {{10, 10}}}), frameyard::Got::frame);
    EXPECT_EQ(stream.reconnects(), 1u);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].rfind("lost: ", 0), 0u);
    EXPECT_EQ(events[1], "reconnected");
    EXPECT_EQ(frame.camera(1).size(), 1u);
}

TEST_F(ClientLibrary, LiveStreamAcknowledgesImagesSoThatMoreCome) {
    auto offerImage = [&](int shade) {
        served.with([shade](TestHost& h) {
            TestHost::ScriptedImage image;
            image.pixels.assign(640 * 480, static_cast<unsigned char>(shade));
            image.segments = {{{5, 6, 7}}};
            h.images[1].push_back(image);
            return 0;
        });
    };
    frameyard::LiveOptions options;
    options.camera = "right";
    options.images = true;
    frameyard::LiveStream live(endpoint, options);
    frameyard::LiveFrame frame;
    std::string message;
    std::vector<int> shades;
    // One image at a time, each offered once the one before has arrived (and was acknowledged
    // on the way): without acknowledgements the server would skip the third.
    for (int shade = 0; shade < 4; ++shade) {
        offerImage(shade);
        ASSERT_EQ(live.next(frame, message, 3000), frameyard::Got::frame) << "image " << shade;
        ASSERT_TRUE(frame.image);
        EXPECT_EQ(frame.image->width, 640);
        shades.push_back(frame.image->pixels[0]);
        ASSERT_EQ(frame.segments.size(), 1u);
        EXPECT_EQ(frame.segments[0].value1, 6);   // the host's second value comes first
    }
    EXPECT_EQ(shades, (std::vector<int>{0, 1, 2, 3}));
}

TEST_F(ClientLibrary, AcquisitionRecordsAndDownloadsFieldByField) {
    served.with([](TestHost& h) {
        h.acquire = true;
        h.acquisition.recorded = 2;
        h.acquisition.images = true;
        h.acquisition.globs = true;
        h.acquisition.timecodes = true;
        h.acquisition.imageWidth = 4;
        h.acquisition.imageHeight = 2;
        h.acquisition.centroids = {{320, 240}};
        return 0;
    });
    frameyard::AcquireRequest request;
    request.images = true;
    request.fields = 2;
    frameyard::Acquisition acquisition(endpoint, request);
    EXPECT_EQ(acquisition.cameraCount(), 2);
    ASSERT_TRUE(acquisition.waitReady(3000));
    acquisition.start();
    std::vector<double> progress;
    std::vector<frameyard::AcquiredField> fields;
    acquisition.record([&](const frameyard::AcquireProgress& p) { progress.push_back(p.fraction()); },
                       [&](const frameyard::AcquiredField& f) { fields.push_back(f); });
    ASSERT_EQ(fields.size(), 2u);
    EXPECT_FALSE(progress.empty());
    EXPECT_EQ(fields[1].number, 1);
    ASSERT_TRUE(fields[1].timecode);
    EXPECT_EQ((*fields[1].timecode)[0], 1);
    ASSERT_EQ(fields[1].cameras.size(), 2u);
    EXPECT_EQ(fields[1].cameras[1].pixels[3], TestHost::acquiredPixel(1, 1, 3));
    ASSERT_EQ(fields[1].cameras[0].centroids.size(), 1u);
    EXPECT_EQ(fields[1].cameras[0].centroids[0].displayX(), 256.0f);
}

TEST_F(ClientLibrary, WaitsAreBoundedAndFailuresAreErrors) {
    frameyard::Endpoint nobody{"127.0.0.1", freeLoopbackPort(), 500};
    EXPECT_THROW(frameyard::Host(nobody).cameras(), frameyard::ConnectionError);
    frameyard::AcquireRequest request;
    request.fields = 1;
    // The test host offers no acquisition: a camera count of 0.
    EXPECT_THROW(frameyard::Acquisition(endpoint, request), frameyard::Error);
    frameyard::LiveOptions options;
    options.camera = "middle";
    EXPECT_THROW(frameyard::LiveStream(endpoint, options), frameyard::Error);
}

}  // namespace
