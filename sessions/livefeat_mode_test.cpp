#include "sessions/livefeat_mode.h"

#include <gtest/gtest.h>

#include "sessions/session_test_support.h"
#include "toolkit/diagnostics.h"

namespace session_test {
namespace {

using Events = std::vector<std::string>;

class RecordingLiveFeat : public RyStoreMultiClientHandlerBase::LiveFeatHandler {
public:
    Events events;
    void setFeaturesWanted(int camera, bool on) override { note("features", camera, on); }
    void setImagesWanted(int camera, bool on) override { note("images", camera, on); }

private:
    void note(const char* what, int camera, bool on) {
        events.push_back(std::string(what) + " " + std::to_string(camera) + (on ? " on" : " off"));
    }
};

const SessionModeTable& liveFeatModes() {
    static const SessionModeTable modes{{'f', startMode<LiveFeatMode>, nullptr},
                                        {'C', startMode<CommandExchangeMode>, nullptr}};
    return modes;
}

}  // namespace

// However the session ends, what it held is given back; also when the handler itself goes.
TEST(LiveFeatMode, TheHandlerGoingAwayReleasesWhatItsSessionsHold) {
    FakeConfigure configure;
    RecordingLiveFeat host;
    Listener listener;
    auto handler = std::make_unique<RyStoreMultiClientHandler>(configure, liveFeatModes());
    handler->setLiveFeatHandler(&host);
    handler->addListeningSocket(listener.descriptor);
    TestClient client(listener.port);
    // cam2 by name: the session's list becomes [2], and position 0 is host camera 2.
    ASSERT_TRUE(client.send(commandRequest("[\"want_cameras\",[\"cam2\"]]") + "f" + std::string("c\0\0i\1", 5)));
    ASSERT_TRUE(driveUntil(*handler, [&] { return host.events.size() == 2; }));
    EXPECT_EQ(host.events, (Events{"images 2 on", "features 2 on"}));
    handler.reset();
    EXPECT_EQ(host.events, (Events{"images 2 on", "features 2 on", "images 2 off", "features 2 off"}));
}

TEST(LiveFeatMode, RefusedWithoutALiveFeatureHost) {
    FakeConfigure configure;
    Listener listener;
    RyStoreMultiClientHandler handler(configure, liveFeatModes());
    handler.addListeningSocket(listener.descriptor);
    fy::DiagnosticCapture diagnostics;
    TestClient client(listener.port);
    ASSERT_TRUE(client.send("f"));
    ASSERT_TRUE(driveUntil(handler, [&] { return !diagnostics.text().empty(); }));
    EXPECT_EQ(diagnostics.text(), "Features mode not supported\n");
    pollTimes(handler, 5);
    EXPECT_EQ(handler.clientCount(), 1u) << "held open until the client closes";
}

}  // namespace session_test
