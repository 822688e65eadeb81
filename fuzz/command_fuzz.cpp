// Feeds arbitrary command texts to the command dispatcher, several per input (split at NUL
// bytes) so that wanted cameras set by one command are used by the next. Nothing may crash,
// and every command gets a reply.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/command/command_channel.h"
#include "protocol/command/command_test_fakes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    command_test::FakeConfig config;
    config.cameras = {command_test::FakeCamera("left"), command_test::FakeCamera("right"),
                      command_test::FakeCamera("")};
    config.thresholdValues = {1, 2, 3};
    if (size > 0) {
        // The first byte picks how the configuration answers the optional operations.
        config.canFind = data[0] & 1;
        config.available.ready = data[0] & 2;
        config.defaultResult.code = data[0] >> 4;
        if (data[0] & 4) config.addedCameras = LuDArray<int>();
    }
    RyStoreProtocol::ClientConfiguration client;
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t start = size > 0 ? 1 : 0;
    while (start <= input.size()) {
        size_t end = input.find('\0', start);
        if (end == std::string::npos) end = input.size();
        std::string text = input.substr(start, end - start);
        RyStoreProtocol::CommandReply reply = RyStoreProtocol::dispatchClientCommand(
            LuStr(text.data(), text.size()), config, client, true, LuStr("127.0.0.1"), 4000);
        if (reply.text.length() == 0) std::abort();
        if (!client.wantedCameras.isNull())
            for (int camera : client.wantedCameras.get())
                if (camera < 0 || camera >= config.cameraCount()) std::abort();
        start = end + 1;
    }
    return 0;
}
