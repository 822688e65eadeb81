#pragma once
// The multi-client handler owns every client connection of the server: it accepts connections,
// runs one session per connection, removes finished sessions, hands host frames and status
// announcements to the sessions that want them, and tells the host only of aggregate changes.
#include <memory>

#include "net/clock.h"
#include "net/connection_acceptor.h"
#include "protocol/common/abstract_config.h"
#include "protocol/frames/glob_interfaces.h"
#include "protocol/common/records.h"
#include "protocol/common/store_task.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_nullable.h"
#include "toolkit/lu_str.h"

class AccessPolicy;
class RyStoreConfigureHandlerBase;
class RySocketInterface;
class SessionModeTable;
struct SessionConnection;

// The part of the handler that sessions and the server core see; the derived class decides
// where connections come from and which clock the session writers use.
class RyStoreMultiClientHandlerBase : public RyStoreTask {
public:
    class Client;
    struct Impl;

    // How the host learns that realtime clients want frames.
    class RealtimeHandler {
    public:
        virtual void wantedCamerasChanged(const LuDArray<int>& cameras) = 0;
        virtual void startRealtime() = 0;
        virtual void stopRealtime() = 0;

    protected:
        ~RealtimeHandler() = default;
    };

    // How the host learns which cameras live-feature clients have selected.
    class LiveFeatHandler {
    public:
        virtual void setFeaturesWanted(int camera, bool on) = 0;
        virtual void setImagesWanted(int camera, bool on) = 0;

    protected:
        ~LiveFeatHandler() = default;
    };

    // The host side of acquisitions and the request it is handed (sessions/acquire_request.h).
    class AcquireHandler;
    struct AcquireRequest;

    // Sessions start the modes of the table. Neither is owned; both must outlive the handler.
    RyStoreMultiClientHandlerBase(RyStoreConfigureHandlerBase& configure, const SessionModeTable& modes);
    // Closes and deletes every session's connection.
    ~RyStoreMultiClientHandlerBase() override;
    RyStoreMultiClientHandlerBase(const RyStoreMultiClientHandlerBase&) = delete;
    RyStoreMultiClientHandlerBase& operator=(const RyStoreMultiClientHandlerBase&) = delete;

    // One turn: the readiness check, the due sessions served, new connections accepted. A
    // session that waits for its client on a quiet connection costs nothing.
    void process() override;
    // The one readiness check of a turn over every connection and listening socket: sessions
    // with input are queued for service. False when serving and accepting would do nothing
    // this turn (no session due, no connection waiting, no refusal count to report).
    bool checkReadiness();
    // Serves every queued session (input read, output still queued, a new session, one whose
    // state acts without input, one a broadcast reached), removes finished ones and stops the
    // host's frames when no realtime client is left; no readiness check of its own.
    void serveDueSessions();
    // True while at least one session exists.
    bool isAlive() override;

    virtual void acceptConnections() = 0;
    // The modes sessions start, and how they word connection failures.
    const SessionModeTable& modes() const;
    virtual RyStoreProtocol::AbstractClock& clock() = 0;

    // Neither handler is owned. Giving a realtime handler tells it the cameras wanted now.
    void setRealtimeHandler(RealtimeHandler* handler);
    void setLiveFeatHandler(LiveFeatHandler* handler);
    void setAcquireHandler(AcquireHandler* handler);

    // Starts a session on a connection and takes ownership of the socket. System sockets are
    // part of the shared readiness check; any other socket is drained and served on every poll.
    // A client that may not change the host reads and streams only.
    void addClient(RySocketInterface* socket, bool mayChangeHost = true);

    // Who may connect and change the host; changes apply to connections accepted after them.
    AccessPolicy& accessPolicy();

    unsigned int clientCount() const;
    bool isRealtimeActive() const;

    // Writes one host frame to every ready realtime session (encoded once per distinct client
    // view) and answers the first frame of waiting handshakes with 'r'; the sessions reached are
    // served by the next serveDueSessions().
    void distributeFrame(const RyStoreProtocol::AbstractGlobFrame& frame, const RyStoreProtocol::Timecode& timecode,
                         const RyStoreProtocol::MaskInfo& masks);
    // One host image of a camera that live-feature clients want, to every live-feature session
    // that selected the camera, under each one's image flow control. A null image or timecode
    // means none. Nothing of them is kept after the call.
    void distributeLiveFeatImage(int camera, const RyStoreProtocol::SegmentListInterface& segments,
                                 const RyStoreProtocol::ImageView* image, const RyStoreProtocol::Timecode* timecode);
    // A new frame or timecode rate: stored, and sent to the realtime sessions monitoring it,
    // unless it equals the stored one.
    void rateChanged(RyStoreProtocol::RateKind kind, float value);
    // The mask table of all host cameras, to every session monitoring rectangular masks.
    void broadcastRectangularMasks(const LuDArray<LuNullable<LuDArray<RyRectangularMask>>>& table);
    // A camera's setting (or "_threshold") changed: a camera message to every session that
    // takes camera messages and serves that camera.
    void announceSettingChanged(int camera, const LuStr& name, double value);
    // Reference counts over live-feature sessions; the host hears only of the first on and the
    // last off per camera.
    void setFeatureCamera(int camera, bool on);
    void setImageCamera(int camera, bool on);

protected:
    // The listening descriptors the shared readiness check covers.
    virtual const LuDArray<int>& listeningDescriptors() const = 0;
    // Whether the readiness check of the current process() found this listening descriptor
    // readable.
    bool listeningReadable(int descriptor) const;
    // Derived classes call this whenever their listening descriptors change, and before they
    // close one: a closed descriptor's number may come back as another socket, which a stale
    // registration would miss.
    void listeningDescriptorsChanged();

private:
    // A session is served only once the realtime side admits it.
    void serve(Client& client);

    std::unique_ptr<Impl> impl;
};

// The handler of the server: accepts on the listening descriptors it is given and times the
// session writers with a clock started at construction.
class RyStoreMultiClientHandler : public RyStoreMultiClientHandlerBase {
public:
    RyStoreMultiClientHandler(RyStoreConfigureHandlerBase& configure, const SessionModeTable& modes);

    // Every pending connection of each readable listening descriptor, up to
    // LuConnectionAcceptor::maxPerPoll per descriptor and poll; a connection the access policy
    // does not admit is closed before anything is read from it.
    void acceptConnections() override;
    RyStoreProtocol::AbstractClock& clock() override { return realClock; }

    void addListeningSocket(int descriptor);
    // No descriptor is closed here.
    void clearListeningSockets();

protected:
    const LuDArray<int>& listeningDescriptors() const override { return listening; }

private:
    void admit(int descriptor);

    LuDArray<int> listening;
    RyStoreProtocol::RealClock realClock;
    LuConnectionAcceptor acceptor;
};
