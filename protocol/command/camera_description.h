#pragma once
// Camera descriptions: the JSON text that tells a client what each camera is (name, image
// regions, disabled, numeric settings with their ranges). The writers print straight onto an
// output stream.
#include <ostream>

#include "protocol/common/abstract_config.h"
#include "protocol/common/records.h"
#include "toolkit/json_printer.h"
#include "toolkit/lu_array.h"
#include "toolkit/lu_str.h"

namespace RyStoreProtocol {

// A set of cameras that can be visited by index.
class CameraArray {
public:
    // Visits the cameras whose indices are listed, in list order, or every camera from index 0
    // upward when cameras is null.
    virtual void visitCameras(CameraVisitor& visitor, const LuDArray<int>* cameras) = 0;

protected:
    ~CameraArray() = default;
};

// Writes each visited camera as one camera object.
class PrintCameraVisitor : public CameraVisitor {
public:
    explicit PrintCameraVisitor(std::ostream& out) : out(out) {}
    bool visit(const ConstCamera& camera) override;

private:
    std::ostream& out;
};

// Writes the visited cameras as the elements of an array (the brackets are the caller's).
class PrintCameraToArrayVisitor : public CameraVisitor {
public:
    explicit PrintCameraToArrayVisitor(std::ostream& out) : out(out) {}
    bool visit(const ConstCamera& camera) override;

private:
    std::ostream& out;
    bool first = true;
};

// Writes the visited settings as the elements of an array (the brackets are the caller's).
class PrintNumberSettingVisitor : public NumberSettingVisitor {
public:
    explicit PrintNumberSettingVisitor(std::ostream& out) : out(out) {}
    bool visit(const NumberSetting& setting) override;

private:
    std::ostream& out;
    bool first = true;
};

// Writers that append to a caller-owned stream.
void writeCameraObject(std::ostream& out, const ConstCamera& camera);
void writeCameraArray(std::ostream& out, CameraArray& cameras, const LuDArray<int>* indices);
void writeCameraSettingsArray(std::ostream& out, AbstractConfig& config, const LuDArray<int>& cameras);
LuStr cameraArrayText(CameraArray& cameras, const LuDArray<int>* indices);

}  // namespace RyStoreProtocol

// One camera of the configuration, by index.
struct CameraSettingsWrapper {
    RyStoreProtocol::AbstractConfig* config;
    int camera;
};

// Several cameras of the configuration, by index list.
struct CameraSettingsArrayWrapper {
    RyStoreProtocol::AbstractConfig* config;
    const LuDArray<int>* cameras;
};

// The JSON writer of one kind of value; each holds a pointer to the value it writes.
template <class T>
class BasicValueWriter;

template <>
class BasicValueWriter<RyStoreProtocol::ConstCamera> : public LuJSonPrinter::ValueWriter {
public:
    explicit BasicValueWriter(const RyStoreProtocol::ConstCamera* camera) : camera(camera) {}
    void write(std::ostream& out) const override;

private:
    const RyStoreProtocol::ConstCamera* camera;
};

template <>
class BasicValueWriter<RyStoreProtocol::NumberSetting> : public LuJSonPrinter::ValueWriter {
public:
    explicit BasicValueWriter(const RyStoreProtocol::NumberSetting* setting) : setting(setting) {}
    void write(std::ostream& out) const override;

private:
    const RyStoreProtocol::NumberSetting* setting;
};

template <>
class BasicValueWriter<LuGlobImageRegion> : public LuJSonPrinter::ValueWriter {
public:
    explicit BasicValueWriter(const LuGlobImageRegion* region) : region(region) {}
    void write(std::ostream& out) const override;

private:
    const LuGlobImageRegion* region;
};

template <>
class BasicValueWriter<CameraSettingsWrapper> : public LuJSonPrinter::ValueWriter {
public:
    explicit BasicValueWriter(const CameraSettingsWrapper* wrapper) : wrapper(wrapper) {}
    void write(std::ostream& out) const override;

private:
    const CameraSettingsWrapper* wrapper;
};

template <>
class BasicValueWriter<CameraSettingsArrayWrapper> : public LuJSonPrinter::ValueWriter {
public:
    explicit BasicValueWriter(const CameraSettingsArrayWrapper* wrapper) : wrapper(wrapper) {}
    void write(std::ostream& out) const override;

private:
    const CameraSettingsArrayWrapper* wrapper;
};

template <>
class BasicValueWriter<int> : public LuJSonPrinter::ValueWriter {
public:
    explicit BasicValueWriter(const int* value) : value(value) {}
    void write(std::ostream& out) const override { LuJSonPrinter::writeNumber(out, *value); }

private:
    const int* value;
};

template <>
class BasicValueWriter<LuStr> : public LuJSonPrinter::ValueWriter {
public:
    explicit BasicValueWriter(const LuStr* value) : value(value) {}
    void write(std::ostream& out) const override { LuJSonPrinter::writeString(out, *value); }

private:
    const LuStr* value;
};

template <>
class BasicValueWriter<LuDArray<int>> : public LuJSonPrinter::ValueWriter {
public:
    explicit BasicValueWriter(const LuDArray<int>* values) : values(values) {}
    void write(std::ostream& out) const override { LuJSonPrinter::IntArrayWriter(*values).write(out); }

private:
    const LuDArray<int>* values;
};

template <>
class BasicValueWriter<LuDArray<LuStr>> : public LuJSonPrinter::ValueWriter {
public:
    explicit BasicValueWriter(const LuDArray<LuStr>* values) : values(values) {}
    void write(std::ostream& out) const override { LuJSonPrinter::StrArrayWriter(*values).write(out); }

private:
    const LuDArray<LuStr>* values;
};

// The settings of one camera: "[" setting objects "]".
class CameraNumberSettingsWriter : public LuJSonPrinter::ValueWriter {
public:
    explicit CameraNumberSettingsWriter(const RyStoreProtocol::ConstCamera* camera) : camera(camera) {}
    void write(std::ostream& out) const override;

private:
    const RyStoreProtocol::ConstCamera* camera;
};
