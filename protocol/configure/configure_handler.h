#pragma once
// The configure request: a client sends 'c' as its session byte, then one binary get or set
// request, and the connection is done. RyStoreConfigureHandlerBase is where the answers come
// from (the host adapter implements it); HandleConfigurationRequestTask reads the request from
// the session's buffered input and writes the answer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/common/abstract_config.h"
#include "protocol/common/records.h"
#include "protocol/common/store_task.h"
#include "toolkit/lu_array.h"

class NonBlockingSocket;

// The server's camera configuration as the configure request and the command channel see it.
class RyStoreConfigureHandlerBase {
public:
    class HandleConfigurationRequestTask;

    virtual ~RyStoreConfigureHandlerBase() = default;

    virtual void visitCamera(int camera, RyStoreProtocol::CameraVisitor& visitor) = 0;
    virtual RyStoreProtocol::AbstractConfig& config() = 0;
    virtual int cameraCount() = 0;
    // Whether clients may use the JSON command exchange.
    virtual bool supportsClientConfig() = 0;
    virtual float pixelAspectRatio() = 0;
    virtual float secondAspectValue() = 0;
    // Whether the camera-count answer carries a capability word after the count.
    virtual bool reportsCameraCapabilities() = 0;
    // One mask list per host camera, indexed by camera.
    virtual LuDArray<LuDArray<RyCircularMask>> circularMasks() = 0;
    // A table received from the client whose session serves `cameras`. The table may hold any
    // number of entries, unrelated to the host's camera count.
    virtual void setCircularMasks(const LuDArray<LuDArray<RyCircularMask>>& table,
                                  const LuDArray<int>& cameras) = 0;
    // One threshold per host camera, indexed by camera.
    virtual LuDArray<int> thresholds() = 0;
};

// Reads one configure request ('g' or 's' and an option letter, plus the mask packet of a set)
// and answers it. Input is read transactionally, so a request that arrives in pieces waits in
// this session without holding the host.
class RyStoreConfigureHandlerBase::HandleConfigurationRequestTask : public RyStoreTask {
public:
    enum State {
        waiting_for_option = 0,
        waiting_for_get_option = 1,
        waiting_for_set_option = 2,
        exited = 3,
    };

    // A packet announced larger than this is refused before anything is allocated.
    static constexpr uint32_t maxMaskPacketSize = 1024 * 1024;

    // All three are borrowed and must outlive the task.
    HandleConfigurationRequestTask(RyStoreConfigureHandlerBase& handler, NonBlockingSocket& socket,
                                   const LuDArray<int>& cameras);

    // Runs every step the buffered input allows; never waits.
    void process() override;
    bool isAlive() override { return state != exited; }

    State currentState() const { return state; }
    static const char* stateName(State state);

private:
    // One step of the state machine; false when it has to wait for input.
    bool step();
    bool readOption();
    bool readGetOption();
    bool readSetOption();
    void answerGet(uint8_t letter);
    void sendAspect();
    void sendCameraCount();
    void sendMasks();
    void sendSettings();
    void sendThresholds();
    void write(const std::vector<uint8_t>& bytes);

    State state = waiting_for_option;
    RyStoreConfigureHandlerBase& handler;
    NonBlockingSocket& socket;
    const LuDArray<int>& cameras;
};

namespace RyStoreProtocol {

using CircularMaskTable = LuDArray<LuDArray<RyCircularMask>>;

// The circular-mask table of the configure request: u16 camera count, then per camera an
// optional 'c' record (u32 record length, u32 mask count, 12 bytes per mask) ended by '$'.
std::vector<uint8_t> encodeCircularMaskTable(const LuArray<LuDArray<RyCircularMask>>& table);

// Decodes a table into `table` (resized to the table's camera count). False when the bytes do
// not hold a whole table; the table is then only partly filled. Never reads outside the buffer,
// whatever counts and record lengths the bytes announce.
bool decodeCircularMaskTable(const uint8_t* data, size_t size, CircularMaskTable& table);

// trunc(value) reduced to its low 16 bits, for any float (NaN and infinities give 0).
uint16_t truncatedLow16(float value);

}  // namespace RyStoreProtocol
