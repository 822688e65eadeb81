// Feeds arbitrary text to the camera-array reader. Nothing may crash; cameras that were read
// completely are written back as a camera array, which must read back to the same cameras
// (names and setting counts; the writer's six digits make values differ).
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/camera_description.h"
#include "protocol/command_test_fakes.h"
#include "toolkit/string_stream.h"

namespace {

struct CollectingBuilder : RyStoreProtocol::CameraArrayBuilder, RyStoreProtocol::CameraBuilder {
    std::vector<command_test::FakeCamera> done;
    command_test::FakeCamera current{""};
    bool finite = true;  // inf and nan print as words the reader does not take

    void beginCamera() override { current = command_test::FakeCamera(""); }
    void endCamera() override { done.push_back(current); }
    CameraBuilder& cameraBuilder() override { return *this; }
    void setName(LuStr name) override { current.cameraName = name; }
    void setImageRegion(LuGlobImageRegion region) override {
        note(region);
        current.region = region;
    }
    void setAcquireImageRegion(LuGlobImageRegion region) override {
        note(region);
        current.acquireRegion = region;
    }
    void setDisabled(bool disabled) override { current.disabled = disabled; }
    void addNumberSetting(const RyStoreProtocol::NumberSetting& setting) override {
        finite = finite && printable(setting.value) && printable(setting.minimum) && printable(setting.maximum);
        current.settings.push_back(setting);
    }
    // "-inf" reads back; "inf" and "nan" do not.
    static bool printable(double x) { return !std::isnan(x) && x != INFINITY; }
    void note(const LuGlobImageRegion& r) {
        finite = finite && std::isfinite(r.leftX) && std::isfinite(r.rightX) && std::isfinite(r.topY) &&
                 std::isfinite(r.bottomY);
    }
};

bool readCameras(const char* text, CollectingBuilder& builder) {
    LuJSonParser parser(text);
    RyStoreProtocol::CameraArrayReader reader(builder);
    return parser.readArray(reader);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    CollectingBuilder first;
    if (!readCameras(text.c_str(), first) || !first.finite) return 0;

    LuOSStream out;
    out << '[';
    for (size_t i = 0; i < first.done.size(); ++i) {
        if (i) out << ',';
        RyStoreProtocol::writeCameraObject(out, first.done[i]);
    }
    out << ']';
    CollectingBuilder second;
    if (!readCameras(out.text(), second)) std::abort();
    if (second.done.size() != first.done.size()) std::abort();
    for (size_t i = 0; i < first.done.size(); ++i) {
        if (!(second.done[i].cameraName.str() == first.done[i].cameraName.str())) std::abort();
        if (second.done[i].settings.size() != first.done[i].settings.size()) std::abort();
        if (second.done[i].disabled != first.done[i].disabled) std::abort();
    }
    return 0;
}
