#include "sessions/mode_table.h"

#include "sessions/client.h"
#include "toolkit/diagnostics.h"

const SessionModeEntry* SessionModeTable::find(uint8_t firstByte) const {
    for (const SessionModeEntry& entry : entries) {
        if (entry.firstByte == firstByte) return &entry;
    }
    return nullptr;
}

namespace SessionRefusals {

void acquisitionUnsupported(RyStoreMultiClientHandlerBase::Client& session) {
    static const uint8_t refusal[2] = {0, 0};
    session.socket().write(refusal, sizeof refusal);
}

void liveFeaturesUnsupported(RyStoreMultiClientHandlerBase::Client&) {
    fy::diagnostic("Features mode not supported\n");
}

}  // namespace SessionRefusals
