// The first bytes libframeyard-rt serves. 'f' has no entry: it is an unknown command here.
#include "sessions/command_mode.h"
#include "sessions/configure_mode.h"
#include "sessions/mode_table.h"
#include "sessions/realtime_mode.h"
#include "toolkit/diagnostics.h"
#include "variant/rt_forwarder.h"

namespace store {

namespace {

using Client = RyStoreMultiClientHandlerBase::Client;

// Without camera online states there is no monitor for them.
constexpr unsigned offeredMonitors =
    RyStoreProtocol::allMonitorKinds & ~RyStoreProtocol::monitorBit(RyStoreProtocol::onlineStatesMonitor);

std::unique_ptr<SessionMode> startStream(Client& session) {
    return std::make_unique<RealtimeMode>(session, offeredMonitors);
}

std::unique_ptr<SessionMode> startCommands(Client& session) {
    return std::make_unique<CommandExchangeMode>(session, RyStoreProtocol::CommandSet::realtimeOnly);
}

void refuseAcquisition(Client& session) {
    fy::diagnostic("Client tried to acquire during realtime\n");
    SessionRefusals::acquisitionUnsupported(session);
}

}  // namespace

const SessionModeTable& realtimeOnlyModes() {
    static const SessionModeTable modes{
        {
            {'R', startStream, nullptr},
            {'a', nullptr, refuseAcquisition},
            {'c', startMode<ConfigureMode>, nullptr},
            {'C', startCommands, nullptr},
        },
        SessionDiagnostics{"Read failed\n", "Error writing to socket\n", "Write failed\n"},
    };
    return modes;
}

}  // namespace store
