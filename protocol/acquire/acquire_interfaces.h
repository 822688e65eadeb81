#pragma once
// What the acquisition exchange reaches outside itself: the request parser hands each decoded
// item to an AcquireParamsBuilderInterface (the session's builder fills its request from it),
// and the data sender asks an AcquiredDataRetrieverInterface for every recorded field.
#include "protocol/common/records.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_nullable.h"

namespace RyStoreProtocol {

// Receives the client's acquisition request item by item, in the order the parser reads them.
class AcquireParamsBuilderInterface {
public:
    virtual ~AcquireParamsBuilderInterface() = default;

    virtual void setStartFieldId(int id) = 0;
    virtual void setFieldCount(int count) = 0;
    virtual void setSendImages(bool on) = 0;
    virtual void setSendGlobs(bool on) = 0;
    virtual void setAcquisitionRate(int rate) = 0;
    virtual void setCameraValue(int camera, int value) = 0;
    virtual void setSendGlobsForFrame(int field, bool on) = 0;
    virtual void setSendImagesForFrame(int field, bool on) = 0;
};

// Where a decoded frame list puts its per-field flags.
class SetElementFunction {
public:
    virtual ~SetElementFunction() = default;
    virtual void set(int index, bool on) = 0;
};

class SetSendGlobsForFrameFunction final : public SetElementFunction {
public:
    explicit SetSendGlobsForFrameFunction(AcquireParamsBuilderInterface& builder) : builder_(builder) {}
    void set(int index, bool on) override { builder_.setSendGlobsForFrame(index, on); }

private:
    AcquireParamsBuilderInterface& builder_;
};

class SetSendImagesForFrameFunction final : public SetElementFunction {
public:
    explicit SetSendImagesForFrameFunction(AcquireParamsBuilderInterface& builder) : builder_(builder) {}
    void set(int index, bool on) override { builder_.setSendImagesForFrame(index, on); }

private:
    AcquireParamsBuilderInterface& builder_;
};

// The recorded fields of one acquisition as the data sender reads them. Fields are numbered
// from 0; cameras are positions of the client's camera list.
class AcquiredDataRetrieverInterface {
public:
    virtual ~AcquiredDataRetrieverInterface() = default;

    virtual int fieldCount() = 0;
    virtual int cameraCount() = 0;
    virtual int startFieldId() = 0;
    virtual LuNullable<Timecode> timecode(int field) = 0;
    // The field whose images (centroids) are to be sent for `field`, or null when none are.
    virtual LuNullable<int> imageField(int field) = 0;
    virtual ImageView image(int field, int camera) = 0;
    virtual LuNullable<int> globsField(int field) = 0;
    // Valid until the next call.
    virtual const LuDArray<Centroid>& centroids(int field, int camera) = 0;
};

}  // namespace RyStoreProtocol
