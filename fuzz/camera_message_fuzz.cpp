// Feeds arbitrary texts to the camera-message handler of streaming sessions: nothing may crash,
// and only cameras of the session's list may ever be addressed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/messages/camera_messages.h"
#include "protocol/command/command_test_fakes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    command_test::FakeConfig config;
    LuDArray<int> cameras;
    cameras.append(5);
    cameras.append(3);
    std::string text(reinterpret_cast<const char*>(data), size);
    bool handled = RyStoreProtocol::handleCameraMessage(LuStr(text.data(), text.size()), cameras, config);
    size_t calls = config.addedMasks.size() + config.deletedMasks.size() + config.settingCalls.size();
    if (calls != (handled ? 1u : 0u)) std::abort();
    for (const auto& [camera, mask] : config.addedMasks)
        if ((camera != 5 && camera != 3) || !(mask.x1 <= mask.x2 && mask.y1 <= mask.y2)) std::abort();
    for (const auto& call : config.settingCalls)
        if (call.camera != 5 && call.camera != 3) std::abort();
    return 0;
}
