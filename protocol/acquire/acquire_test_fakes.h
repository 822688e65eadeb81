#pragma once
// Test doubles of the acquisition exchange: a builder that records what the request parser
// hands it, and a recording whose fields the test scripts.
#include <optional>
#include <string>
#include <vector>

#include "protocol/acquire/acquire_interfaces.h"
#include "protocol/common/byte_order.h"

namespace acquire_test {

// Every call as one line ("fieldCount 5", "globs 3 1", ...), per-field flags kept apart.
class RecordingBuilder : public RyStoreProtocol::AcquireParamsBuilderInterface {
public:
    std::vector<std::string> calls;
    std::vector<bool> globs, images;  // grown to the highest field set
    long long flagCalls = 0;

    void setStartFieldId(int id) override { calls.push_back("startFieldId " + std::to_string(id)); }
    void setFieldCount(int count) override { calls.push_back("fieldCount " + std::to_string(count)); }
    void setSendImages(bool on) override { calls.push_back(std::string("sendImages ") + (on ? "1" : "0")); }
    void setSendGlobs(bool on) override { calls.push_back(std::string("sendGlobs ") + (on ? "1" : "0")); }
    void setAcquisitionRate(int rate) override { calls.push_back("rate " + std::to_string(rate)); }
    void setCameraValue(int camera, int value) override {
        calls.push_back("camera " + std::to_string(camera) + " " + std::to_string(value));
    }
    void setSendGlobsForFrame(int field, bool on) override { set(globs, field, on); }
    void setSendImagesForFrame(int field, bool on) override { set(images, field, on); }

    // The non-flag calls, in order, joined by ", ".
    std::string summary() const {
        std::string out;
        for (const std::string& call : calls) out += (out.empty() ? "" : ", ") + call;
        return out;
    }

private:
    void set(std::vector<bool>& flags, int field, bool on) {
        ++flagCalls;
        if (size_t(field) >= flags.size()) flags.resize(size_t(field) + 1);
        flags[size_t(field)] = on;
    }
};

// One scripted camera block: an image (w x h bytes, or a view the test sets up itself) and
// centroids.
struct CameraData {
    RyStoreProtocol::ImageView image;
    std::vector<unsigned char> pixels;
    LuDArray<RyStoreProtocol::Centroid> centroids;
};

struct FieldData {
    std::optional<RyStoreProtocol::Timecode> timecode;
    bool images = false;
    bool globs = false;
    std::vector<CameraData> cameras;
};

class ScriptedRecording : public RyStoreProtocol::AcquiredDataRetrieverInterface {
public:
    std::vector<FieldData> fields;
    int cameras = 0;
    int start = 0;
    int imageCalls = 0;
    int centroidCalls = 0;

    int fieldCount() override { return int(fields.size()); }
    int cameraCount() override { return cameras; }
    int startFieldId() override { return start; }
    LuNullable<RyStoreProtocol::Timecode> timecode(int field) override {
        LuNullable<RyStoreProtocol::Timecode> result;
        if (fields.at(size_t(field)).timecode) result = *fields.at(size_t(field)).timecode;
        return result;
    }
    LuNullable<int> imageField(int field) override { return flagged(fields.at(size_t(field)).images, field); }
    LuNullable<int> globsField(int field) override { return flagged(fields.at(size_t(field)).globs, field); }
    RyStoreProtocol::ImageView image(int field, int camera) override {
        ++imageCalls;
        CameraData& data = fields.at(size_t(field)).cameras.at(size_t(camera));
        if (!data.pixels.empty()) data.image.pixels = data.pixels.data();
        return data.image;
    }
    const LuDArray<RyStoreProtocol::Centroid>& centroids(int field, int camera) override {
        ++centroidCalls;
        return fields.at(size_t(field)).cameras.at(size_t(camera)).centroids;
    }

    // A camera block with a w x h image whose pixel i is (seed + i) mod 251, and n centroids.
    static CameraData camera(int width, int height, int seed, int centroidCount) {
        CameraData data;
        data.pixels.resize(size_t(width) * size_t(height));
        for (size_t i = 0; i < data.pixels.size(); ++i) data.pixels[i] = static_cast<unsigned char>((seed + i) % 251);
        data.image = {width, height, nullptr};
        for (int i = 0; i < centroidCount; ++i)
            data.centroids.append({uint16_t(seed + i), uint16_t(2 * i), 1});
        return data;
    }

private:
    static LuNullable<int> flagged(bool on, int field) {
        LuNullable<int> result;
        if (on) result = field;
        return result;
    }
};

inline std::string u16(uint16_t value) {
    std::vector<uint8_t> out;
    RyStoreProtocol::putU16(out, value);
    return std::string(out.begin(), out.end());
}

}  // namespace acquire_test
