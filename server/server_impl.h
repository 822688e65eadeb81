#pragma once
// The object behind every exported operation of store::Server: it owns the listening socket,
// the multi-client handler with every client session, and the adapters through which the
// protocols reach the host. checkForEvent() is its event pump.
#include <frameyard/server.h>

#include <memory>

#include "net/tcp_socket.h"
#include "protocol/frames/glob_interfaces.h"
#include "protocol/common/records.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_str.h"

class RyStoreMultiClientHandler;

namespace store {

// Hidden explicitly: a nested class takes the visibility of the exported class around it, and
// nothing of the implementation may leave the library.
class __attribute__((visibility("hidden"))) Server::Impl {
public:
    // The host adapters (host_adapters.h, glob_frame.h).
    class Config;
    class ConfigureHandler;
    class RealtimeModeHandler;
    class LivefeatModeHandler;
    class CameraInfo;
    class GlobFrame;
    class MaskInfo;

    static constexpr int defaultListenPort = 4000;

    explicit Impl(Server* host);
    ~Impl();
    Impl(const Impl&) = delete;
    Impl& operator=(const Impl&) = delete;

    void setListenPort(int port) { listenPort = port; }
    bool startListening();
    void stopListening();
    bool isListening() const { return listener.isValid(); }
    void checkForEvent();
    unsigned int clientCount() const;

    void setFrameRate(float rate);
    void setTimecodeRate(float rate);
    void cameraSettingChanged(int camera);
    void cameraThresholdChanged(int camera);
    void cameraRectangularMasksChanged(int camera);

    // For the adapters.
    Server& hostObject() { return *host; }
    Config& configAdapter() { return *config; }
    RyStoreMultiClientHandler& clientHandlerObject() { return *clientHandler; }
    // Cameras some live-feature client has selected: ascending, no duplicates.
    LuDArray<int>& featuresWantedList() { return featuresWanted; }
    LuDArray<int>& cameraIndexList() { return cameraIndices; }
    // Tells every interested client; the value is the one requested, not one read back.
    void announceSetting(int camera, const LuStr& name, double value);
    // Sends the rectangular masks of all cameras to every client that monitors them.
    void broadcastRectangularMasks();

private:
    bool failListening();
    void distributeFrame();
    void distributeImages();
    void offerImage(int camera);
    void handImageToClients(int camera, const RyStoreProtocol::SegmentListInterface& segments,
                            const RyStoreProtocol::ImageView* image, const RyStoreProtocol::Timecode* timecode);

    LuTcpSocket listener;
    Server* host;
    std::unique_ptr<ConfigureHandler> configureHandler;
    std::unique_ptr<Config> config;
    std::unique_ptr<RyStoreMultiClientHandler> clientHandler;
    std::unique_ptr<RealtimeModeHandler> realtimeHandler;
    std::unique_ptr<LivefeatModeHandler> livefeatHandler;
    // The latest host frame, kept so that its storage serves the next frame too.
    std::unique_ptr<GlobFrame> frameCopy;
    LuDArray<int> featuresWanted;
    int listenPort = defaultListenPort;
    LuDArray<int> cameraIndices;
};

}  // namespace store
