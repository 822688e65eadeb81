// The handler's live-feature side: each host image of a wanted camera goes to every
// live-feature session that selected that camera, encoded once per form for all of them.
#include "protocol/livefeat/livefeat_client_state.h"
#include "sessions/client.h"
#include "sessions/handler_record.h"
#include "sessions/multi_client_handler.h"
#include "sessions/session_mode.h"

using Client = RyStoreMultiClientHandlerBase::Client;

void RyStoreMultiClientHandlerBase::distributeLiveFeatImage(int camera,
                                                            const RyStoreProtocol::SegmentListInterface& segments,
                                                            const RyStoreProtocol::ImageView* image,
                                                            const RyStoreProtocol::Timecode* timecode) {
    RyStoreProtocol::LiveFeatFrameEncoder frame(timecode, image, segments);
    for (Client* client : impl->clients) {
        SessionMode* mode = client->mode();
        RyStoreProtocol::LiveFeatClientState* state = mode != nullptr ? mode->liveFeatState() : nullptr;
        if (state == nullptr) continue;
        // A broken connection shows up as the session's next failed read.
        RyStoreProtocol::sendLiveFeatFrameToClient(client->socket(), client->cameras(), *state, camera, frame);
        // What the socket did not take is flushed by the session's next service.
        noteServiceNeeded(*client);
    }
}
