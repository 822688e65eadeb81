#include "protocol/command/camera_description.h"

#include <cfloat>
#include <cmath>
#include <string>

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

