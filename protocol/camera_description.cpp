#include "protocol/camera_description.h"

#include <cfloat>
#include <chrono>
#include <cmath>
#include <string>
#include <thread>

#include "protocol/byte_order.h"
#include "protocol/command_channel.h"
#include "toolkit/diagnostics.h"
#include "toolkit/error_list.h"
#include "toolkit/string_stream.h"

namespace {

void writeNumber(std::ostream& out, double value) { LuJSonPrinter::writeNumber(out, value); }
void writeString(std::ostream& out, const LuStr& text) { LuJSonPrinter::writeString(out, text); }

}  // namespace

namespace RyStoreProtocol {

// --- writing -------------------------------------------------------------------------------

bool PrintCameraVisitor::visit(const ConstCamera& camera) {
    writeCameraObject(out, camera);
    return true;
}

bool PrintCameraToArrayVisitor::visit(const ConstCamera& camera) {
    if (!first) out << ',';
    first = false;
    writeCameraObject(out, camera);
    return true;
}

bool PrintNumberSettingVisitor::visit(const NumberSetting& setting) {
    if (!first) out << ',';
    first = false;
    BasicValueWriter<NumberSetting>(&setting).write(out);
    return true;
}

void writeCameraObject(std::ostream& out, const ConstCamera& camera) {
    BasicValueWriter<ConstCamera>(&camera).write(out);
}

void writeCameraArray(std::ostream& out, CameraArray& cameras, const LuDArray<int>* indices) {
    out << '[';
    PrintCameraToArrayVisitor visitor(out);
    cameras.visitCameras(visitor, indices);
    out << ']';
}

void writeCameraSettingsArray(std::ostream& out, AbstractConfig& config, const LuDArray<int>& cameras) {
    CameraSettingsArrayWrapper wrapper{&config, &cameras};
    BasicValueWriter<CameraSettingsArrayWrapper>(&wrapper).write(out);
}

LuStr cameraArrayText(CameraArray& cameras, const LuDArray<int>* indices) {
    LuOSStream out;
    writeCameraArray(out, cameras, indices);
    return out.toLuStr();
}

}  // namespace RyStoreProtocol

using namespace RyStoreProtocol;

namespace {

const LuGlobImageRegion noRegion{};

}  // namespace

void BasicValueWriter<ConstCamera>::write(std::ostream& out) const {
    out << "{\"name\":";
    writeString(out, camera->name());
    LuGlobImageRegion region = camera->imageRegion();
    if (!(region == noRegion)) {
        out << ",\"image_region\":";
        BasicValueWriter<LuGlobImageRegion>(&region).write(out);
    }
    LuGlobImageRegion acquireRegion = camera->acquireImageRegion();
    if (!(acquireRegion == noRegion)) {
        out << ",\"acquire_image_region\":";
        BasicValueWriter<LuGlobImageRegion>(&acquireRegion).write(out);
    }
    if (camera->isDisabled()) out << ",\"disabled\":1";
    out << ",\"number_settings\":";
    CameraNumberSettingsWriter(camera).write(out);
    out << '}';
}

void BasicValueWriter<NumberSetting>::write(std::ostream& out) const {
    out << "{\"name\":";
    writeString(out, setting->name);
    out << ",\"value\":";
    writeNumber(out, setting->value);
    if (setting->minimum != -DBL_MAX) {
        out << ",\"minimum\":";
        writeNumber(out, setting->minimum);
    }
    if (setting->maximum != DBL_MAX) {
        out << ",\"maximum\":";
        writeNumber(out, setting->maximum);
    }
    if (setting->precision != 0) {
        out << ",\"precision\":";
        writeNumber(out, setting->precision);
    }
    out << '}';
}

void BasicValueWriter<LuGlobImageRegion>::write(std::ostream& out) const {
    out << "{\"left_edge_x\":";
    writeNumber(out, region->leftX);
    out << ",\"right_edge_x\":";
    writeNumber(out, region->rightX);
    out << ",\"top_edge_y\":";
    writeNumber(out, region->topY);
    out << ",\"bottom_edge_y\":";
    writeNumber(out, region->bottomY);
    out << '}';
}

void BasicValueWriter<CameraSettingsWrapper>::write(std::ostream& out) const {
    PrintCameraVisitor visitor(out);
    wrapper->config->visitCamera(wrapper->camera, visitor);
}

void BasicValueWriter<CameraSettingsArrayWrapper>::write(std::ostream& out) const {
    // One visitor for all cameras, so that a camera the configuration does not visit leaves no
    // stray comma behind.
    out << '[';
    PrintCameraToArrayVisitor visitor(out);
    for (int camera : *wrapper->cameras) wrapper->config->visitCamera(camera, visitor);
    out << ']';
}

void CameraNumberSettingsWriter::write(std::ostream& out) const {
    out << '[';
    PrintNumberSettingVisitor visitor(out);
    camera->visitNumberSettings(visitor);
    out << ']';
}

// --- reading -------------------------------------------------------------------------------

namespace RyStoreProtocol {

namespace {

bool readFloat(LuJSonParser& parser, float& out) {
    double value = 0.0;
    if (!parser.readNumber(value)) return false;
    out = static_cast<float>(value);
    return true;
}

// A precision is rounded half up, floor(x + 0.5); a value that rounds outside int is refused
// like any integer that does not fit.
bool readPrecision(LuJSonParser& parser, int& out) {
    double value = 0.0;
    if (!parser.readNumber(value)) return false;
    double rounded = std::floor(value + 0.5);
    if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) {
        LuOSStream found;
        LuJSonPrinter::writeNumber(found, value);
        return parser.expectationError("integer", found.text());
    }
    out = static_cast<int>(rounded);
    return true;
}

bool readRegion(LuJSonParser& parser, LuGlobImageRegion& region) {
    CameraReader::ImageRegionReader reader(region);
    return parser.readObject(reader);
}

}  // namespace

bool CameraArrayReader::readElement(LuJSonParser& parser) {
    builder.beginCamera();
    CameraReader reader(builder.cameraBuilder());
    if (!parser.readObject(reader)) return false;
    builder.endCamera();
    return true;
}

bool CameraReader::readMember(const LuStr& name, LuJSonParser& parser) {
    if (name == "name") {
        LuStr text;
        if (!parser.readString(text)) return false;
        builder.setName(text);
        return true;
    }
    if (name == "number_settings") {
        NumberSettingsReader reader(builder);
        return parser.readArray(reader);
    }
    if (name == "image_region" || name == "acquire_image_region") {
        LuGlobImageRegion region;
        if (!readRegion(parser, region)) return false;
        if (name == "image_region")
            builder.setImageRegion(region);
        else
            builder.setAcquireImageRegion(region);
        return true;
    }
    if (name == "disabled") {
        // Only a number is taken here; anything else is left for the parser to warn about.
        if (!parser.isNumber()) return true;
        int value = 0;
        if (!parser.readInteger(value)) return false;
        builder.setDisabled(value != 0);
        return true;
    }
    parser.warning(LuStr("Unknown camera member '") + name + "'.");
    return parser.skipValue();
}

bool CameraReader::NumberSettingsReader::readElement(LuJSonParser& parser) {
    NumberSetting setting;
    NumberSettingReader reader(setting);
    if (!parser.readObject(reader)) return false;
    builder.addNumberSetting(setting);
    return true;
}

bool CameraReader::NumberSettingReader::readMember(const LuStr& name, LuJSonParser& parser) {
    if (name == "name") return parser.readString(setting.name);
    if (name == "value") return parser.readNumber(setting.value);
    if (name == "minimum") return parser.readNumber(setting.minimum);
    if (name == "maximum") return parser.readNumber(setting.maximum);
    if (name == "precision") return readPrecision(parser, setting.precision);
    parser.unknownMemberWarning(name);
    return parser.skipValue();
}

bool CameraReader::ImageRegionReader::readMember(const LuStr& name, LuJSonParser& parser) {
    if (name == "left_edge_x") return readFloat(parser, region.leftX);
    if (name == "right_edge_x") return readFloat(parser, region.rightX);
    if (name == "top_edge_y") return readFloat(parser, region.topY);
    if (name == "bottom_edge_y") return readFloat(parser, region.bottomY);
    parser.unknownMemberWarning(name);
    return parser.skipValue();
}

// --- readSettings --------------------------------------------------------------------------

namespace {

using Clock = std::chrono::steady_clock;

// Client-side exact read: polls the socket until all bytes came, the peer closed or the
// deadline passed. Text is appended as it arrives, so a length the peer merely announces
// costs nothing until the bytes are really there.
bool readExactly(RySocketInterface& socket, std::string& out, size_t count, Clock::time_point deadline) {
    char chunk[4096];
    while (out.size() < count) {
        size_t want = count - out.size() < sizeof chunk ? count - out.size() : sizeof chunk;
        int n = socket.read(chunk, want);
        if (n < 0) return false;
        if (n > 0) {
            out.append(chunk, static_cast<size_t>(n));
            continue;
        }
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

bool writeByte(RySocketInterface& socket, char byte) { return socket.write(&byte, 1) == 1; }

}  // namespace

bool readSettings(CameraArrayBuilder& builder, RySocketInterface& socket, double timeoutSeconds) {
    if (!writeByte(socket, 'c') || !writeByte(socket, 'g') || !writeByte(socket, 's')) return false;
    Clock::time_point deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeoutSeconds));
    std::string lengthBytes;
    if (!readExactly(socket, lengthBytes, 4, deadline)) return false;
    uint32_t length = getU32(reinterpret_cast<const uint8_t*>(lengthBytes.data()));
    if (length >= 0x80000000u) return false;  // negative as the signed length it is
    std::string text;
    if (!readExactly(socket, text, length, deadline)) return false;

    RelayingErrorHandler errors(
        [](const LuStr& message) { LuExceptionHandler::processWide().pushError(message); },
        [](const LuStr& message) { fy::diagnostic("Warning reading settings: %s\n", message.c_str()); });
    LuJSonParser parser(text.c_str(), errors);
    CameraArrayReader reader(builder);
    return parser.readArray(reader) && !errors.failed();
}

}  // namespace RyStoreProtocol
