#pragma once
// Camera descriptions: the JSON text that tells a client what each camera is (name, image
// regions, disabled, numeric settings with their ranges). The writers print straight onto an
// output stream; the readers are for client programs that read a server's description back.
#include <ostream>

#include "net/socket_interface.h"
#include "protocol/abstract_config.h"
#include "protocol/records.h"
#include "toolkit/json_parser.h"
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

// Receives the members of one camera that a reader found.
class CameraBuilder {
public:
    virtual void setName(LuStr name) = 0;
    virtual void setImageRegion(LuGlobImageRegion region) = 0;
    virtual void setAcquireImageRegion(LuGlobImageRegion region) = 0;
    virtual void setDisabled(bool disabled) = 0;
    virtual void addNumberSetting(const NumberSetting& setting) = 0;

protected:
    ~CameraBuilder() = default;
};

// Receives the cameras of a camera array: beginCamera(), the members through cameraBuilder(),
// then endCamera() once the camera was read without error.
class CameraArrayBuilder {
public:
    virtual void beginCamera() = 0;
    virtual void endCamera() = 0;
    virtual CameraBuilder& cameraBuilder() = 0;

protected:
    ~CameraArrayBuilder() = default;
};

// Reads a camera array; every element must be a camera object.
class CameraArrayReader : public LuJSonParser::ArrayReader {
public:
    explicit CameraArrayReader(CameraArrayBuilder& builder) : builder(builder) {}
    bool readElement(LuJSonParser& parser) override;

private:
    CameraArrayBuilder& builder;
};

// Reads the members of one camera object, in any order.
class CameraReader : public LuJSonParser::ObjectReader {
public:
    class NumberSettingsReader;
    class NumberSettingReader;
    class ImageRegionReader;

    explicit CameraReader(CameraBuilder& builder) : builder(builder) {}
    bool readMember(const LuStr& name, LuJSonParser& parser) override;

private:
    CameraBuilder& builder;
};

// Reads an array of number-setting objects, handing each one to the builder.
class CameraReader::NumberSettingsReader : public LuJSonParser::ArrayReader {
public:
    explicit NumberSettingsReader(CameraBuilder& builder) : builder(builder) {}
    bool readElement(LuJSonParser& parser) override;

private:
    CameraBuilder& builder;
};

// Reads one number-setting object into a setting that starts unbounded and without precision.
class CameraReader::NumberSettingReader : public LuJSonParser::ObjectReader {
public:
    explicit NumberSettingReader(NumberSetting& setting) : setting(setting) {}
    bool readMember(const LuStr& name, LuJSonParser& parser) override;

private:
    NumberSetting& setting;
};

// Reads one region object; absent edges stay 0.
class CameraReader::ImageRegionReader : public LuJSonParser::ObjectReader {
public:
    explicit ImageRegionReader(LuGlobImageRegion& region) : region(region) {}
    bool readMember(const LuStr& name, LuJSonParser& parser) override;

private:
    LuGlobImageRegion& region;
};

// Writers that append to a caller-owned stream.
void writeCameraObject(std::ostream& out, const ConstCamera& camera);
void writeCameraArray(std::ostream& out, CameraArray& cameras, const LuDArray<int>* indices);
void writeCameraSettingsArray(std::ostream& out, AbstractConfig& config, const LuDArray<int>& cameras);
LuStr cameraArrayText(CameraArray& cameras, const LuDArray<int>* indices);

// Client side: asks a server for its camera descriptions (a configure settings request) and
// builds them through the builder. This is client code: it waits for the answer, up to
// timeoutSeconds, polling the socket; the server never calls it. Parser errors are added to the
// process-wide LuExceptionHandler, warnings written as diagnostics.
bool readSettings(CameraArrayBuilder& builder, RySocketInterface& socket, double timeoutSeconds = 10.0);

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
