#pragma once
// What the frame encoders read: a frame of per-camera glob lists, the cameras' circular masks
// and, for live features, the run segments of one image.
#include <cstdint>

#include "protocol/common/records.h"
#include "toolkit/lu_array.h"

namespace RyStoreProtocol {

class AbstractGlobList {
public:
    virtual ~AbstractGlobList() = default;
    virtual int globCount() const = 0;
    virtual GlobRecord centroid(int index) const = 0;
    // All globCount() records as one array, for lists that keep them so: encoders then read
    // them directly instead of calling centroid() for each. Null otherwise.
    virtual const GlobRecord* records() const { return nullptr; }
};

class GlobListVisitor {
public:
    virtual void visit(const AbstractGlobList& list) = 0;

protected:
    ~GlobListVisitor() = default;
};

class AbstractGlobFrame {
public:
    virtual int globListCount() const = 0;
    virtual void visitGlobList(int camera, GlobListVisitor& visitor) const = 0;

protected:
    ~AbstractGlobFrame() = default;
};

class MaskInfo {
public:
    virtual const LuDArray<RyCircularMask>& circularMasks(int camera) const = 0;
    virtual bool isFullyMasked(int camera) const = 0;
    virtual ~MaskInfo() = default;
};

// The three values of each run segment, already in wire order.
class SegmentListInterface {
public:
    virtual ~SegmentListInterface() = default;
    virtual int segmentCount() const = 0;
    virtual unsigned int value1(int index) const = 0;
    virtual unsigned int value2(int index) const = 0;
    virtual unsigned int value3(int index) const = 0;
    // Writes segments 0 to count-1 (count at most segmentCount()) from `out` on, the low 16
    // bits of each value big-endian, and returns the position after them. Lists that keep their
    // segments in one array override it with a loop that makes no call per value: it runs for
    // every image of every wanted camera.
    virtual uint8_t* storeSegments(uint8_t* out, int count) const;
};

}  // namespace RyStoreProtocol
