#pragma once
// Writes a finished acquisition to its client: every recorded field's record, then the end
// marker. The download is produced as the client takes it: a poll writes only while the
// session's pending output is below a low mark, so a recording of any size goes out with the
// host's memory bounded and every poll short, and a client that reads is never cut off by the
// writer's output bound.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/acquire/acquire_interfaces.h"

class NonBlockingSocket;

namespace RyStoreProtocol {

class AcquiredDataSender {
public:
    enum class Result { sending, done, failed };

    // Pending output below which the next piece is written.
    static constexpr uint64_t lowMark = 1024 * 1024;
    // Most bytes one poll hands to the socket, so that a client whose kernel buffer drains as
    // fast as it fills does not keep the host in one poll for the whole download.
    static constexpr uint64_t pollBudget = 512 * 1024;
    // Images up to this size go in one piece; larger ones in pieces of it, fetched again from
    // the retriever for each piece (the host's pixels are not kept across polls).
    static constexpr uint64_t imagePiece = 4 * 1024 * 1024;

    // Both are borrowed. The field count is read from the retriever here, once.
    AcquiredDataSender(NonBlockingSocket& socket, AcquiredDataRetrieverInterface& data);

    // Writes as much as the pacing allows. `failed` from the first write that fails; nothing
    // more is written after it.
    Result process();
    Result result() const;

private:
    enum class Step { field_header, image, image_pixels, centroids, end_marker, finished, failed };

    bool writeStep();
    bool writeFieldHeader();
    bool writeImage();
    bool writePixels(const ImageView& image);
    bool writeCentroids();
    bool writeEndMarker();
    // The first block of the current camera, or the next camera's, or the next field.
    void enterCamera();
    void nextCamera();
    bool write(const void* data, size_t length);
    bool writeScratch();

    NonBlockingSocket& socket_;
    AcquiredDataRetrieverInterface& data_;
    const int fields_;
    const int cameras_;
    const int startFieldId_;
    Step step_ = Step::field_header;
    int field_ = 0;
    int camera_ = 0;
    LuNullable<int> imageField_;
    LuNullable<int> globsField_;
    // The image being sent in pieces: its size as announced and the pixels still owed.
    ImageView announced_;
    uint64_t pixelsSent_ = 0;
    uint64_t pixelsLeft_ = 0;
    uint64_t writtenThisPoll_ = 0;
    // Small records are gathered here and written in one piece before any pixels.
    std::vector<uint8_t> scratch_;
};

}  // namespace RyStoreProtocol
