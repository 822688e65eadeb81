#include "server/full/live_images.h"

#include "server/host_adapters.h"

namespace store {

void LiveImages::setFeaturesWanted(int camera, bool on) {
    setSortedMember(wanted, camera, on);
    host.setCameraFeaturesWanted(camera, on);
}

// Hands one camera's image to the clients while the host's buffers are valid.
class LiveImages::HandOver final : public HostInterface::ImageReceiver {
public:
    HandOver(LiveImages& images, int camera) : images(images), camera(camera) {}

    void receive(const HostInterface::CameraImage& image) override {
        static const EmptySegments none;
        RyStoreProtocol::ImageView view;
        bool hasPixels = image.pixels != nullptr;
        if (hasPixels) {
            view.width = images.host.cameraImageWidth(camera);
            view.height = images.host.cameraImageHeight(camera);
            view.pixels = image.pixels;
            // Pixels are read width x height bytes far: a buffer shorter than that is not sent.
            size_t needed = view.width > 0 && view.height > 0 ? size_t(view.width) * size_t(view.height) : 0;
            if (image.pixelCount < needed) hasPixels = false;
        }
        RyStoreProtocol::Timecode timecode{};
        if (image.timecode)
            for (size_t i = 0; i < timecode.size(); ++i) timecode[i] = static_cast<uint32_t>(image.timecode[i]);
        images.clients.distributeLiveFeatImage(camera, image.segments ? *image.segments : none,
                                               hasPixels ? &view : nullptr, image.timecode ? &timecode : nullptr);
    }

private:
    struct EmptySegments final : RyStoreProtocol::SegmentListInterface {
        int segmentCount() const override { return 0; }
        unsigned int value1(int) const override { return 0; }
        unsigned int value2(int) const override { return 0; }
        unsigned int value3(int) const override { return 0; }
    };

    LiveImages& images;
    int camera;
};

void LiveImages::run() {
    // A copy: sessions may change the selection while images are handed out.
    LuDArray<int> cameras = wanted;
    for (int camera : cameras) {
        if (!host.cameraImageAvailable(camera)) continue;
        HandOver handOver(*this, camera);
        host.takeCameraImage(camera, handOver);
        host.releaseCameraImage(camera);
    }
}

}  // namespace store
