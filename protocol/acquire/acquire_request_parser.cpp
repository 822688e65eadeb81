#include "protocol/acquire/acquire_request_parser.h"

#include <algorithm>

#include "net/non_blocking_socket.h"
#include "protocol/common/byte_order.h"
#include "protocol/frames/frame_format.h"
#include "toolkit/diagnostics.h"

namespace RyStoreProtocol {

using Read = SessionInputBuffer::Read;

namespace {

// The camera count travels as u16, and the client sends as many values as it was told.
int announcedCameras(int cameraCount) { return std::clamp(cameraCount, 0, 0xFFFF); }

}  // namespace

AcquireRequestParser::AcquireRequestParser(NonBlockingSocket& socket, AcquireParamsBuilderInterface& builder,
                                           int cameraCount)
    : socket_(socket), builder_(builder), cameraCount_(announcedCameras(cameraCount)) {}

AcquireRequestParser::Result AcquireRequestParser::result() const {
    if (step_ == Step::complete) return Result::complete;
    if (step_ == Step::failed) return Result::failed;
    return Result::waiting;
}

AcquireRequestParser::Result AcquireRequestParser::process() {
    if (result() != Result::waiting || !socket_.hasInput()) return result();
    if (step_ != Step::camera_values && readRequest() != Result::complete) return result();
    if (!socket_.hasInput()) return result();
    return readCameraValues();
}

// ---- The request: mode, start field id, frame lists, rate --------------------------------------

AcquireRequestParser::Result AcquireRequestParser::readRequest() {
    SessionInputBuffer& input = socket_.input();
    // What earlier polls decoded is still in the buffer, uncommitted; step over it.
    input.skip(decodedBytes_);
    while (step_ != Step::camera_values) {
        if (!readItem()) {
            input.rollback();
            return result();
        }
        decodedBytes_ = input.bufferedBytes() - input.unreadBytes();
    }
    input.commit();
    decodedBytes_ = 0;
    applyRequest();
    std::vector<uint8_t> reply;
    putU16(reply, static_cast<uint16_t>(cameraCount_));
    if (!writeAll(socket_, reply.data(), reply.size())) {
        step_ = Step::failed;
        return result();
    }
    return Result::complete;
}

bool AcquireRequestParser::readItem() {
    SessionInputBuffer& input = socket_.input();
    Read read = Read::ok;
    switch (step_) {
        case Step::mode:
            return readMode();
        case Step::start_field_id:
            read = input.readU16(startFieldId_);
            if (read == Read::ok) step_ = sendGlobs_ ? Step::globs_list : sendImages_ ? Step::images_list : Step::rate;
            break;
        case Step::globs_list:
            if (!readListRun(globs_)) return false;
            if (globs_.ended) step_ = sendImages_ ? Step::images_list : Step::rate;
            return true;
        case Step::images_list:
            if (!readListRun(images_)) return false;
            if (images_.ended) step_ = Step::rate;
            return true;
        case Step::rate:
            read = input.readU16(rate_);
            if (read == Read::ok) step_ = Step::camera_values;
            break;
        default:
            return false;
    }
    if (read == Read::failed) step_ = Step::failed;
    return read == Read::ok;
}

bool AcquireRequestParser::readMode() {
    uint8_t mode = 0;
    Read read = socket_.input().readByte(mode);
    if (read != Read::ok) {
        if (read == Read::failed) step_ = Step::failed;
        return false;
    }
    sendGlobs_ = mode == '0' || mode == '1';
    sendImages_ = mode == '1' || mode == '2';
    if (!sendGlobs_ && !sendImages_) fy::diagnostic("Error: invalid send images value\n");
    step_ = Step::start_field_id;
    return true;
}

// A list is pairs of runs, unwanted then wanted, until an unwanted run of 0xFFFF. Only the
// unwanted position can end it: 0xFFFF as a wanted run is 65535 wanted fields.
bool AcquireRequestParser::readListRun(FrameList& list) {
    uint16_t run = 0;
    Read read = socket_.input().readU16(run);
    if (read != Read::ok) {
        if (read == Read::failed) step_ = Step::failed;
        return false;
    }
    if (!list.expectWantedRun && run == listEnd) {
        list.ended = true;
        return true;
    }
    if (uint64_t(list.length) + run > maxFields) {
        step_ = Step::failed;
        return false;
    }
    if (list.expectWantedRun && run > 0) {
        auto& runs = list.wanted;
        if (!runs.empty() && runs.back().first + runs.back().second == list.length)
            runs.back().second += run;
        else
            runs.push_back({list.length, run});
    }
    list.length += run;
    list.expectWantedRun = !list.expectWantedRun;
    return true;
}

void AcquireRequestParser::applyRequest() {
    SetSendGlobsForFrameFunction setGlobs(builder_);
    SetSendImagesForFrameFunction setImages(builder_);
    if (sendGlobs_) applyList(globs_, setGlobs);
    if (sendImages_) applyList(images_, setImages);
    uint32_t fields = 0;
    if (sendGlobs_ && sendImages_) {
        fields = std::max(globs_.length, images_.length);
        // The shorter list's missing fields are unwanted.
        bool globsShorter = globs_.length < images_.length;
        SetElementFunction& shorter = globsShorter ? static_cast<SetElementFunction&>(setGlobs) : setImages;
        for (uint32_t field = std::min(globs_.length, images_.length); field < fields; ++field)
            shorter.set(int(field), false);
    } else if (sendGlobs_) {
        fields = globs_.length;
    } else if (sendImages_) {
        fields = images_.length;
    }
    builder_.setFieldCount(int(fields));
    builder_.setStartFieldId(startFieldId_);
    builder_.setSendImages(sendImages_);
    builder_.setSendGlobs(sendGlobs_);
    builder_.setAcquisitionRate(rate_);
    globs_ = FrameList();
    images_ = FrameList();
}

// From the last field down, so that a builder that grows its frames to the highest index it
// has seen grows once per list instead of once per field.
void AcquireRequestParser::applyList(const FrameList& list, SetElementFunction& set) {
    size_t run = list.wanted.size();
    for (uint32_t field = list.length; field-- > 0;) {
        while (run > 0 && list.wanted[run - 1].first > field) --run;
        bool wanted = run > 0 && field < list.wanted[run - 1].first + list.wanted[run - 1].second;
        set.set(int(field), wanted);
    }
}

// ---- The camera values and the closing byte ----------------------------------------------------

AcquireRequestParser::Result AcquireRequestParser::readCameraValues() {
    SessionInputBuffer& input = socket_.input();
    std::vector<uint16_t> values(static_cast<size_t>(cameraCount_));
    Read read = Read::ok;
    for (uint16_t& value : values)
        if ((read = input.readU16(value)) != Read::ok) break;
    if (read == Read::ok) read = input.skip(1);
    if (read != Read::ok) {
        input.rollback();
        if (read == Read::failed) step_ = Step::failed;
        return result();
    }
    input.commit();
    for (size_t camera = 0; camera < values.size(); ++camera) builder_.setCameraValue(int(camera), values[camera]);
    step_ = Step::complete;
    return result();
}

}  // namespace RyStoreProtocol
