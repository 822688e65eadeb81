#pragma once
// The handler's realtime side: which sessions count as realtime clients, starting and stopping
// the host's frames on the first and last of them, and writing each host frame to every ready
// realtime session, encoded once per distinct client view.
#include <set>

#include "protocol/common/records.h"
#include "protocol/frames/glob_interfaces.h"
#include "sessions/multi_client_handler.h"

class SessionEventLoop;
class SessionServices;

class RealtimeFanout {
public:
    using Client = RyStoreMultiClientHandlerBase::Client;

    // Neither is owned.
    RealtimeFanout(SessionEventLoop& loop, SessionServices& services) : loop(loop), services(services) {}

    // Before a session is served: false when it must wait for the host's frames first (its
    // input waits in its buffer).
    bool admit(Client& client);
    // After a session was served: a session ready for frames counts as a realtime client.
    void noteReady(Client& client);
    // A session is being removed.
    void forget(Client& client);
    // Tells the host to stop its frames once no realtime client is left.
    void stopIfIdle();
    // Tells the host which cameras the realtime clients want now, if any client is there.
    void announceWantedCameras();

    // One host frame to every ready realtime session; a session waiting for the first frame
    // is answered 'r'. Each session reached is queued for service.
    void distribute(const RyStoreProtocol::AbstractGlobFrame& frame, const RyStoreProtocol::Timecode& timecode,
                    const RyStoreProtocol::MaskInfo& masks);

private:
    void startHost();
    // From now on the session counts as a realtime client.
    void enlist(Client& client);

    SessionEventLoop& loop;
    SessionServices& services;
    // Sessions that reached the frame-waiting stage, or are ready for frames.
    std::set<Client*> clients;
};
