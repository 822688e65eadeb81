#include "protocol/configure/configure_handler.h"

#include <cmath>

#include "net/non_blocking_socket.h"
#include "protocol/common/byte_order.h"
#include "protocol/command/camera_description.h"
#include "toolkit/diagnostics.h"

using Task = RyStoreConfigureHandlerBase::HandleConfigurationRequestTask;
using Read = SessionInputBuffer::Read;

namespace RyStoreProtocol {

namespace {

constexpr uint8_t maskRecordTag = 'c';
constexpr uint8_t cameraEndTag = '$';
constexpr uint64_t maskBytes = 12;

// A reader over the packet that refuses, rather than performs, any read past its end.
class PacketCursor {
public:
    PacketCursor(const uint8_t* data, size_t size) : data(data), size(size) {}

    uint64_t remaining() const { return position < size ? size - position : 0; }
    bool readU8(uint8_t& value) {
        if (remaining() < 1) return false;
        value = data[position++];
        return true;
    }
    bool readU16(uint16_t& value) {
        if (remaining() < 2) return false;
        value = getU16(data + position);
        position += 2;
        return true;
    }
    bool readU32(uint32_t& value) {
        if (remaining() < 4) return false;
        value = getU32(data + position);
        position += 4;
        return true;
    }
    uint64_t offset() const { return position; }
    // May move past the end; every later read then fails.
    void seek(uint64_t to) { position = to; }

private:
    const uint8_t* data;
    uint64_t size;
    uint64_t position = 0;
};

// The masks of a 'c' record: the count is checked against the bytes left before anything is
// allocated, so a hostile count costs nothing.
bool readMaskRecord(PacketCursor& in, std::vector<RyCircularMask>& masks, uint64_t& used) {
    uint32_t count = 0;
    if (!in.readU32(count)) return false;
    if (uint64_t(count) * maskBytes > in.remaining()) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t x = 0, y = 0, radius = 0;
        in.readU32(x);
        in.readU32(y);
        in.readU32(radius);
        masks.push_back(RyCircularMask{floatFromBits(x), floatFromBits(y), floatFromBits(radius)});
    }
    used = 4 + uint64_t(count) * maskBytes;
    return true;
}

// A camera's masks are gathered first and stored once: a camera may come in many small
// records, and growing its list record by record would cost time quadratic in the packet.
bool readCameraRecords(PacketCursor& in, LuDArray<RyCircularMask>& masks) {
    masks.clear();
    std::vector<RyCircularMask> found;
    uint8_t tag = 0;
    if (!in.readU8(tag)) return false;
    while (tag != cameraEndTag) {
        uint32_t recordLength = 0;
        if (in.remaining() >= 4) in.readU32(recordLength);
        uint64_t recordStart = in.offset();
        uint64_t used = 0;
        if (tag == maskRecordTag && !readMaskRecord(in, found, used)) return false;
        if (recordLength < used) return false;
        // Unknown tags and padding inside a record are skipped with the record.
        in.seek(recordStart + recordLength);
        if (!in.readU8(tag)) return false;
    }
    masks.setSize(int(found.size()));
    for (size_t i = 0; i < found.size(); ++i) masks[int(i)] = found[i];
    return true;
}

}  // namespace

std::vector<uint8_t> encodeCircularMaskTable(const LuArray<LuDArray<RyCircularMask>>& table) {
    std::vector<uint8_t> out;
    putU16(out, static_cast<uint16_t>(table.getSize()));
    for (const LuDArray<RyCircularMask>& masks : table) {
        if (!masks.isEmpty()) {
            putU8(out, maskRecordTag);
            putU32(out, static_cast<uint32_t>(maskBytes * uint64_t(masks.getSize()) + 4));
            putU32(out, static_cast<uint32_t>(masks.getSize()));
            for (const RyCircularMask& mask : masks) {
                putF32(out, mask.x);
                putF32(out, mask.y);
                putF32(out, mask.radius);
            }
        }
        putU8(out, cameraEndTag);
    }
    return out;
}

bool decodeCircularMaskTable(const uint8_t* data, size_t size, CircularMaskTable& table) {
    PacketCursor in(data, size);
    uint16_t cameraCount = 0;
    if (!in.readU16(cameraCount)) return false;
    table.setSize(cameraCount);
    for (LuDArray<RyCircularMask>& masks : table)
        if (!readCameraRecords(in, masks)) return false;
    return true;
}

uint16_t truncatedLow16(float value) {
    if (!std::isfinite(value)) return 0;
    // fmod is exact for finite doubles, so this is the truncated value modulo 2^16 even where
    // a conversion to an integer type would overflow.
    double low = std::fmod(std::trunc(double(value)), 65536.0);
    if (low < 0) low += 65536.0;
    return static_cast<uint16_t>(low);
}

}  // namespace RyStoreProtocol

using namespace RyStoreProtocol;

namespace {

// The configure handler's cameras as a camera array, so that the settings answer is the same
// text as every other camera array.
class ConfigureCameras : public CameraArray {
public:
    explicit ConfigureCameras(RyStoreConfigureHandlerBase& handler) : handler(handler) {}
    void visitCameras(CameraVisitor& visitor, const LuDArray<int>* cameras) override {
        if (cameras) {
            for (int camera : *cameras) handler.visitCamera(camera, visitor);
            return;
        }
        int count = handler.cameraCount();
        for (int camera = 0; camera < count; ++camera) handler.visitCamera(camera, visitor);
    }

private:
    RyStoreConfigureHandlerBase& handler;
};

}  // namespace

Task::HandleConfigurationRequestTask(RyStoreConfigureHandlerBase& handler, NonBlockingSocket& socket,
                                     const LuDArray<int>& cameras)
    : handler(handler), socket(socket), cameras(cameras) {}

const char* Task::stateName(State state) {
    switch (state) {
        case waiting_for_option: return "waiting_for_option";
        case waiting_for_get_option: return "waiting_for_get_option";
        case waiting_for_set_option: return "waiting_for_set_option";
        case exited: return "exited";
    }
    return "unknown";
}

void Task::process() {
    // A request is at most three steps; each step either moves on or waits.
    while (step()) {
    }
}

bool Task::step() {
    switch (state) {
        case waiting_for_option: return readOption();
        case waiting_for_get_option: return readGetOption();
        case waiting_for_set_option: return readSetOption();
        case exited: return false;
    }
    return false;
}

bool Task::readOption() {
    SessionInputBuffer& input = socket.input();
    if (!input.hasInput()) return false;
    uint8_t option = 0;
    Read result = input.readByte(option);
    if (result == Read::waiting) {
        input.rollback();
        return false;
    }
    input.commit();
    if (result == Read::failed) {
        fy::diagnostic("Couldn't read command in Configure().\n");
        state = exited;
    } else if (option == 'g') {
        state = waiting_for_get_option;
    } else if (option == 's') {
        state = waiting_for_set_option;
    } else {
        fy::diagnostic("Unknown configure option\n");
        state = exited;
    }
    return true;
}

bool Task::readGetOption() {
    SessionInputBuffer& input = socket.input();
    if (!input.hasInput()) return false;
    uint8_t letter = 0;
    Read result = input.readByte(letter);
    if (result == Read::waiting) {
        input.rollback();
        return false;
    }
    input.commit();
    if (result == Read::failed)
        fy::diagnostic("Couldn't read command in ConfigGet().\n");
    else
        answerGet(letter);
    state = exited;
    return true;
}

// The letter, the size and the packet of a set request are one item: until all of it has
// arrived nothing is consumed, so the request waits here across polls.
bool Task::readSetOption() {
    SessionInputBuffer& input = socket.input();
    if (!input.hasInput()) return false;
    InputTransaction transaction(input);
    uint8_t letter = 0;
    Read result = input.readByte(letter);
    if (result == Read::waiting) return false;
    if (result == Read::failed) {
        transaction.commit();
        fy::diagnostic("Couldn't read command in ConfigSet().\n");
        state = exited;
        return true;
    }
    if (letter != 'm') {
        transaction.commit();
        fy::diagnostic("client set unknown config '%c'\n", letter);
        state = exited;
        return true;
    }

    uint32_t size = 0;
    result = input.readU32(size);
    if (result == Read::waiting) return false;
    // A size that could not be read, is negative as a signed length, or is beyond any real
    // table is refused before a buffer is made for it.
    if (result == Read::failed || size > maxMaskPacketSize) {
        transaction.commit();
        fy::diagnostic("Invalid packet size\n");
        state = exited;
        return true;
    }

    const uint8_t* packet = nullptr;
    result = input.readView(packet, size);
    if (result == Read::waiting) return false;
    state = exited;
    if (result == Read::ok) {
        CircularMaskTable table;
        // A packet of no bytes at all stands for the empty table.
        if (size == 0 || decodeCircularMaskTable(packet, size, table)) handler.setCircularMasks(table, cameras);
    }
    // A packet cut short by the peer closing, or one that does not decode, changes nothing.
    transaction.commit();
    return true;
}

void Task::answerGet(uint8_t letter) {
    switch (letter) {
        case 'a': sendAspect(); break;
        case 'c': sendCameraCount(); break;
        case 'm': sendMasks(); break;
        case 's': sendSettings(); break;
        case 't': sendThresholds(); break;
        default: {
            fy::diagnostic("Client requested unknown '%c'\n", letter);
            std::vector<uint8_t> zero;
            putU32(zero, 0);
            write(zero);
        }
    }
}

void Task::sendAspect() {
    // The products are formed in single precision, as the clients expect.
    std::vector<uint8_t> first;
    putU16(first, truncatedLow16(handler.pixelAspectRatio() * 256.0f));
    write(first);
    std::vector<uint8_t> second;
    putU16(second, truncatedLow16(handler.secondAspectValue() * 256.0f));
    write(second);
}

void Task::sendCameraCount() {
    std::vector<uint8_t> out;
    putU16(out, static_cast<uint16_t>(cameras.getSize()));
    if (handler.reportsCameraCapabilities()) putU16(out, handler.supportsClientConfig() ? 7 : 3);
    write(out);
}

void Task::sendMasks() {
    CircularMaskTable all = handler.circularMasks();
    CircularMaskTable mine;
    mine.setSize(cameras.getSize());
    for (int i = 0; i < cameras.getSize(); ++i) {
        int camera = cameras[i];
        if (camera >= 0 && camera < all.getSize()) mine[i] = all[camera];
    }
    std::vector<uint8_t> table = encodeCircularMaskTable(mine);
    std::vector<uint8_t> out;
    out.reserve(4 + table.size());
    putU32(out, static_cast<uint32_t>(table.size()));
    putBytes(out, table.data(), table.size());
    write(out);
}

void Task::sendSettings() {
    ConfigureCameras source(handler);
    LuStr text = cameraArrayText(source, &cameras);
    std::vector<uint8_t> out;
    out.reserve(4 + static_cast<size_t>(text.length()));
    putU32(out, static_cast<uint32_t>(text.length()));
    putBytes(out, text.c_str(), static_cast<size_t>(text.length()));
    write(out);
}

void Task::sendThresholds() {
    LuDArray<int> thresholds = handler.thresholds();
    std::vector<uint8_t> out;
    putU16(out, static_cast<uint16_t>(cameras.getSize()));
    for (int camera : cameras) {
        int threshold = camera >= 0 && camera < thresholds.getSize() ? thresholds[camera] : 0;
        putU16(out, static_cast<uint16_t>(threshold));
    }
    write(out);
}

void Task::write(const std::vector<uint8_t>& bytes) {
    // The session socket queues what the connection does not take; a client that was cut off
    // gets nothing more, which ends this request anyway.
    socket.write(bytes.data(), bytes.size());
}
