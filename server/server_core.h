#pragma once
// The server behind a public server class: it owns the listening socket, the multi-client
// handler with every client session, and the adapters through which the protocols reach the
// host; checkForEvent() is its event pump. It reaches the host only through the host interface,
// so that every public class is a thin forwarder onto the same core.
#include <memory>
#include <string>

#include "net/tcp_socket.h"
#include "protocol/common/records.h"
#include "protocol/frames/glob_interfaces.h"
#include "server/host_interface.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_str.h"

class LuStatus;
class RyStoreMultiClientHandler;
class SessionModeTable;

namespace store {

class ServerCore {
public:
    // The host adapters (host_adapters.h, glob_frame.h).
    class Config;
    class RealtimeModeHandler;
    class CameraInfo;
    class MaskInfo;

    static constexpr int defaultListenPort = 4000;

    // Clients may start the modes of the table. Neither is owned; both outlive the core.
    ServerCore(HostInterface& host, const SessionModeTable& modes);
    ~ServerCore();
    ServerCore(const ServerCore&) = delete;
    ServerCore& operator=(const ServerCore&) = delete;

    void setListenPort(int port) { listenPort = port; }
    void setListenAddress(const std::string& address) { listenAddress = address; }
    bool setAllowedClients(const std::string& networks);
    bool setControllingClients(const std::string& networks);
    void setMaxClients(unsigned int count);
    bool startListening();
    void stopListening();
    bool isListening() const { return listener.isValid(); }
    // One turn of the event pump: one readiness check, the sessions served and new connections
    // accepted, at most one host frame delivered and the sessions it reached served again, then
    // the pump stage (live images).
    void checkForEvent();
    unsigned int clientCount() const;

    void setFrameRate(float rate);
    void setTimecodeRate(float rate);
    void cameraSettingChanged(int camera);
    void cameraThresholdChanged(int camera);
    void cameraRectangularMasksChanged(int camera);

    // A stage of the event pump that runs after the realtime frame (libframeyard's live images).
    class PumpStage {
    public:
        virtual void run() = 0;

    protected:
        ~PumpStage() = default;
    };
    // Neither is owned; null detaches. The stage and handlers a library attaches must outlive
    // the core's pumping, and are detached by the core's destructor before sessions end.
    void setPumpStage(PumpStage* stage) { pumpStage = stage; }

    // For the adapters.
    HostInterface& hostObject() { return host; }
    Config& configAdapter() { return *config; }
    RyStoreMultiClientHandler& clientHandlerObject() { return *clientHandler; }
    LuDArray<int>& cameraIndexList() { return cameraIndices; }
    // Tells every interested client; the value is the one requested, not one read back.
    void announceSetting(int camera, const LuStr& name, double value);
    // Sends the rectangular masks of all cameras to every client that monitors them.
    void broadcastRectangularMasks();

private:
    bool failListening(const LuStatus& failure);
    // The host's current frame to the realtime sessions, when one is due; false when none was.
    bool deliverFrame();

    LuTcpSocket listener;
    HostInterface& host;
    std::unique_ptr<Config> config;
    std::unique_ptr<RyStoreMultiClientHandler> clientHandler;
    std::unique_ptr<RealtimeModeHandler> realtimeHandler;
    // The latest host frame, kept so that its storage serves the next frame too.
    std::unique_ptr<GlobFrame> frameCopy;
    PumpStage* pumpStage = nullptr;
    int listenPort = defaultListenPort;
    std::string listenAddress = "0.0.0.0";
    LuDArray<int> cameraIndices;
};

}  // namespace store
