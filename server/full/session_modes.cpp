// The first bytes libframeyard serves.
#include "server/full/host_forwarder.h"
#include "sessions/acquire_mode.h"
#include "sessions/command_mode.h"
#include "sessions/configure_mode.h"
#include "sessions/livefeat_mode.h"
#include "sessions/mode_table.h"
#include "sessions/realtime_mode.h"

namespace store {

const SessionModeTable& fullServerModes() {
    static const SessionModeTable modes{
        {'R', startMode<RealtimeMode>, nullptr},
        {'f', startMode<LiveFeatMode>, nullptr},
        {'a', startMode<AcquireMode>, nullptr},
        {'c', startMode<ConfigureMode>, nullptr},
        {'C', startMode<CommandExchangeMode>, nullptr},
    };
    return modes;
}

}  // namespace store
