#pragma once
// The server behind a public server class: it owns the listening socket, the multi-client
// handler with every client session, and the adapters through which the protocols reach the
// host; checkForEvent() is its event pump. It reaches the host only through the host interface,
// so that every public class is a thin forwarder onto the same core.
#include <memory>

#include "net/tcp_socket.h"
#include "protocol/common/records.h"
#include "protocol/frames/glob_interfaces.h"
#include "server/host_interface.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_str.h"

class RyStoreMultiClientHandler;
class SessionModeTable;

namespace store {

class ServerCore {
public:
    // The host adapters (host_adapters.h, glob_frame.h).
    class Config;
    class ConfigureHandler;
    class RealtimeModeHandler;
    class LivefeatModeHandler;
    class AcquireModeHandler;
    class CameraInfo;
    class MaskInfo;

    static constexpr int defaultListenPort = 4000;

    // Clients may start the modes of the table. Neither is owned; both outlive the core.
    ServerCore(HostInterface& host, const SessionModeTable& modes);
    ~ServerCore();
    ServerCore(const ServerCore&) = delete;
    ServerCore& operator=(const ServerCore&) = delete;

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
    HostInterface& hostObject() { return host; }
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
    class ImageHandOver;

    bool failListening();
    void distributeFrame();
    void distributeImages();
    void handImageToClients(int camera, const RyStoreProtocol::SegmentListInterface& segments,
                            const RyStoreProtocol::ImageView* image, const RyStoreProtocol::Timecode* timecode);

    LuTcpSocket listener;
    HostInterface& host;
    std::unique_ptr<ConfigureHandler> configureHandler;
    std::unique_ptr<Config> config;
    std::unique_ptr<RyStoreMultiClientHandler> clientHandler;
    std::unique_ptr<RealtimeModeHandler> realtimeHandler;
    std::unique_ptr<LivefeatModeHandler> livefeatHandler;
    std::unique_ptr<AcquireModeHandler> acquireHandler;
    // The latest host frame, kept so that its storage serves the next frame too.
    std::unique_ptr<GlobFrame> frameCopy;
    LuDArray<int> featuresWanted;
    int listenPort = defaultListenPort;
    LuDArray<int> cameraIndices;
};

}  // namespace store
