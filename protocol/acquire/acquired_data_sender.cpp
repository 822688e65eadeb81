#include "protocol/acquire/acquired_data_sender.h"

#include <algorithm>

#include "net/non_blocking_socket.h"
#include "protocol/acquire/acquire_records.h"
#include "protocol/common/byte_order.h"
#include "protocol/frames/frame_format.h"

namespace RyStoreProtocol {

namespace {

// Gathered records are written once they reach this size, or before pixels follow them.
constexpr size_t scratchLimit = 64 * 1024;
constexpr size_t zeroBlock = 64 * 1024;

}  // namespace

AcquiredDataSender::AcquiredDataSender(NonBlockingSocket& socket, AcquiredDataRetrieverInterface& data)
    : socket_(socket),
      data_(data),
      fields_(std::max(data.fieldCount(), 0)),
      cameras_(std::max(data.cameraCount(), 0)),
      startFieldId_(data.startFieldId()) {}

AcquiredDataSender::Result AcquiredDataSender::result() const {
    if (step_ == Step::finished) return Result::done;
    if (step_ == Step::failed) return Result::failed;
    return Result::sending;
}

AcquiredDataSender::Result AcquiredDataSender::process() {
    if (result() != Result::sending) return result();
    if (!socket_.flushOutput()) {
        step_ = Step::failed;
        return result();
    }
    writtenThisPoll_ = 0;
    while (result() == Result::sending && socket_.pendingOutput() < lowMark && writtenThisPoll_ < pollBudget) {
        if (!writeStep()) step_ = Step::failed;
    }
    if (result() != Result::failed && !writeScratch()) step_ = Step::failed;
    return result();
}

bool AcquiredDataSender::writeStep() {
    switch (step_) {
        case Step::field_header: return writeFieldHeader();
        case Step::image: return writeImage();
        case Step::image_pixels: return writePixels(data_.image(imageField_.get(), camera_));
        case Step::centroids: return writeCentroids();
        case Step::end_marker: return writeEndMarker();
        case Step::finished:
        case Step::failed: break;
    }
    return false;
}

// ---- One field: header, then per camera its image and centroid blocks --------------------------

bool AcquiredDataSender::writeFieldHeader() {
    if (field_ >= fields_) {
        step_ = Step::end_marker;
        return true;
    }
    LuNullable<Timecode> timecode = data_.timecode(field_);
    imageField_ = data_.imageField(field_);
    globsField_ = data_.globsField(field_);
    appendFieldHeader(scratch_, startFieldId_ + field_, timecode.isNull() ? nullptr : &timecode.get(),
                      !imageField_.isNull(), !globsField_.isNull());
    camera_ = 0;
    enterCamera();
    return scratch_.size() < scratchLimit || writeScratch();
}

void AcquiredDataSender::enterCamera() {
    if (camera_ >= cameras_ || (imageField_.isNull() && globsField_.isNull())) {
        ++field_;
        step_ = Step::field_header;
        return;
    }
    step_ = imageField_.isNull() ? Step::centroids : Step::image;
}

void AcquiredDataSender::nextCamera() {
    ++camera_;
    enterCamera();
}

bool AcquiredDataSender::writeImage() {
    ImageView image = data_.image(imageField_.get(), camera_);
    pixelsLeft_ = appendImageHeader(scratch_, image);
    pixelsSent_ = 0;
    announced_ = image;
    step_ = Step::image_pixels;
    if (!writeScratch()) return false;
    return writePixels(image);
}

// A piece of the image announced last. When the host hands out something else for a later
// piece, zeros stand in for the rest: the client was promised width x height bytes.
bool AcquiredDataSender::writePixels(const ImageView& image) {
    uint64_t piece = std::min(pixelsLeft_, imagePiece);
    bool same = image.pixels != nullptr && image.width == announced_.width && image.height == announced_.height;
    bool ok = true;
    if (same) {
        ok = write(image.pixels + pixelsSent_, size_t(piece));
    } else {
        static const uint8_t zeros[zeroBlock] = {};
        for (uint64_t left = piece; ok && left > 0; left -= std::min<uint64_t>(left, zeroBlock))
            ok = write(zeros, size_t(std::min<uint64_t>(left, zeroBlock)));
    }
    pixelsSent_ += piece;
    pixelsLeft_ -= piece;
    if (pixelsLeft_ == 0) {
        if (globsField_.isNull())
            nextCamera();
        else
            step_ = Step::centroids;
    }
    return ok;
}

bool AcquiredDataSender::writeCentroids() {
    const LuDArray<Centroid>& centroids = data_.centroids(globsField_.get(), camera_);
    appendCentroidBlock(scratch_, centroids.begin(), centroids.getSize());
    nextCamera();
    return scratch_.size() < scratchLimit || writeScratch();
}

bool AcquiredDataSender::writeEndMarker() {
    putU16(scratch_, acquiredDataEnd);
    step_ = Step::finished;
    return writeScratch();
}

// ---- Writing ------------------------------------------------------------------------------------

bool AcquiredDataSender::write(const void* data, size_t length) {
    writtenThisPoll_ += length;
    return writeAll(socket_, data, length);
}

bool AcquiredDataSender::writeScratch() {
    if (scratch_.empty()) return true;
    bool ok = write(scratch_.data(), scratch_.size());
    scratch_.clear();
    return ok;
}

}  // namespace RyStoreProtocol
