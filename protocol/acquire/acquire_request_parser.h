#pragma once
// Reads a client's acquisition request: the mode byte, the start field id, the run-length
// frame lists, the acquisition rate, then (after the server has answered with its camera count)
// one value per camera and a closing byte. Each of the two parts is read as one transaction:
// nothing is consumed and nothing reaches the builder until a part has arrived whole, so a
// client that sends its request in pieces holds only its own session.
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "protocol/acquire/acquire_interfaces.h"

class NonBlockingSocket;

namespace RyStoreProtocol {

class AcquireRequestParser {
public:
    enum class Result { waiting, complete, failed };

    // Frame lists longer than this end the request as a failed read: a handful of bytes must
    // not make the host allocate for billions of fields.
    static constexpr uint32_t maxFields = 16777216;
    // The run that ends a frame list when it stands in the unwanted position.
    static constexpr uint16_t listEnd = 0xFFFF;

    // The socket and builder are borrowed. cameraCount is the number of cameras the client's
    // session serves; it is announced to the client and decides how many values it sends.
    AcquireRequestParser(NonBlockingSocket& socket, AcquireParamsBuilderInterface& builder, int cameraCount);

    // Reads as far as the buffered input allows. `failed` when the client closed before the
    // request was whole, a frame list was too long, or the camera count could not be written.
    Result process();
    Result result() const;

private:
    enum class Step { mode, start_field_id, globs_list, images_list, rate, camera_values, complete, failed };

    // One frame list as read so far: its length and its wanted runs.
    struct FrameList {
        uint32_t length = 0;
        std::vector<std::pair<uint32_t, uint32_t>> wanted;  // first field, count
        bool expectWantedRun = false;
        bool ended = false;
    };

    Result readRequest();
    Result readCameraValues();
    // One item of the request; false when it is not all there (or the request failed).
    bool readItem();
    bool readMode();
    bool readListRun(FrameList& list);
    void applyRequest();
    void applyList(const FrameList& list, SetElementFunction& set);

    NonBlockingSocket& socket_;
    AcquireParamsBuilderInterface& builder_;
    int cameraCount_;
    Step step_ = Step::mode;
    // Bytes of the open transaction already decoded in earlier polls: they are skipped, not
    // decoded again, so a request that trickles in costs time linear in its size.
    size_t decodedBytes_ = 0;
    bool sendGlobs_ = false;
    bool sendImages_ = false;
    uint16_t startFieldId_ = 0;
    uint16_t rate_ = 0;
    FrameList globs_;
    FrameList images_;
};

}  // namespace RyStoreProtocol
