#include "tools/client/acquire_client.h"

#include <algorithm>

namespace fyclient {
namespace {

constexpr uint16_t kListEnd = 0xFFFF;
constexpr uint16_t kDataEnd = 0xFFFF;
constexpr uint16_t kCentroidMarker = 0xFFFF;

uint8_t modeByte(const AcquireRequest& request) {
    if (request.globs && request.images) return '1';
    if (request.globs) return '0';
    if (request.images) return '2';
    return 'n';  // neither: the server reports it and records no field
}

bool readFlag(Connection& connection, const char* what) {
    uint8_t flag = connection.receiveByte();
    if (flag != '0' && flag != '1') throw ClientError(std::string("malformed field record: bad ") + what + " flag");
    return flag == '1';
}

}  // namespace

uint16_t progressValue(uint32_t recorded, uint32_t requested) {
    if (requested == 0) return 0;
    float value = float(recorded) / float(requested) * 65535.0f;
    return static_cast<uint16_t>(std::clamp(value, 0.0f, 65535.0f));
}

void appendWantedList(std::vector<uint8_t>& out, uint32_t fields) {
    while (fields > 0) {
        uint16_t run = static_cast<uint16_t>(std::min<uint32_t>(fields, 0xFFFF));
        appendU16(out, 0);
        appendU16(out, run);
        fields -= run;
    }
    appendU16(out, kListEnd);
}

std::vector<uint8_t> encodeAcquireRequest(const AcquireRequest& request) {
    std::vector<uint8_t> out{'a', modeByte(request)};
    appendU16(out, request.startFieldId);
    if (request.globs) appendWantedList(out, request.fields);
    if (request.images) appendWantedList(out, request.fields);
    appendU16(out, request.rate);
    return out;
}

AcquireSession::AcquireSession(Connection& connection, const AcquireRequest& request)
    : connection(connection), request(request) {}

int AcquireSession::open() {
    connection.send(encodeAcquireRequest(request));
    cameras = connection.receiveU16();
    return cameras;
}

void AcquireSession::sendCameraValues(const std::vector<uint16_t>& values) {
    std::vector<uint8_t> out;
    for (int c = 0; c < cameras; ++c) appendU16(out, size_t(c) < values.size() ? values[size_t(c)] : 0);
    out.push_back(0);  // the closing byte, which the server discards
    connection.send(out);
}

bool AcquireSession::waitForByte(uint8_t expected, int waitMs) {
    if (!connection.waitForInput(waitMs)) return false;
    uint8_t byte = connection.receiveByte();
    if (byte != expected) {
        throw ClientError(std::string("expected '") + char(expected) + "' from the server, got byte " +
                          std::to_string(byte));
    }
    return true;
}

bool AcquireSession::waitReady(int waitMs) { return waitForByte('R', waitMs); }

bool AcquireSession::step(int waitMs) {
    connection.sendByte('G');
    return waitStepped(waitMs);
}

bool AcquireSession::waitStepped(int waitMs) { return waitForByte('r', waitMs); }

// Any byte but 'G' and 'a' starts the recording.
void AcquireSession::start() { connection.sendByte('S'); }

void AcquireSession::stop() { connection.sendByte('s'); }

// A progress record and the first field record both may start with u16 0: with a start field
// id of 0 the first field is numbered 0. A progress record goes on with the recorded count,
// which grows and stays within the request, and the progress value the server computes from
// it; a field record with 't' or its flags, which would have to make up both by chance.
bool AcquireSession::isProgressRecord() {
    if (request.startFieldId != 0) return true;
    uint32_t count = connection.peekU16();
    if (count <= recorded || count > request.fields) return false;
    return connection.peekU16(2) == progressValue(count, request.fields);
}

AcquireSession::Event AcquireSession::next(int waitMs, AcquireProgress& progress) {
    if (!connection.waitForInput(waitMs)) return Event::none;
    uint16_t word = connection.receiveU16();
    if (word == 0 && isProgressRecord()) {
        progress.fieldNumber = connection.receiveU16();
        progress.value = connection.receiveU16();
        // Field numbers travel as 16 bits; the count only grows.
        uint16_t count = static_cast<uint16_t>(progress.fieldNumber - request.startFieldId);
        recorded += static_cast<uint16_t>(count - static_cast<uint16_t>(recorded));
        return Event::progress;
    }
    firstWord = word;
    downloaded += 2;
    return Event::data;
}

// 0xFFFF ends the data, except where it is the number of a field still to come (a start
// field id near 65535).
std::optional<AcquiredField> AcquireSession::nextField() {
    uint16_t number = 0;
    if (firstWord) {
        number = *firstWord;
        firstWord.reset();
    } else {
        number = connection.receiveU16();
        downloaded += 2;
    }
    if (number == kDataEnd && fieldsRead >= recorded) return std::nullopt;
    AcquiredField field;
    field.number = number;
    if (connection.peekByte() == 't') {
        connection.receiveByte();
        std::array<uint8_t, 4> timecode{};
        connection.receive(timecode.data(), timecode.size());
        field.timecode = timecode;
        downloaded += 5;
    }
    field.images = readFlag(connection, "image");
    field.globs = readFlag(connection, "centroid");
    downloaded += 2;
    if (field.images || field.globs) {
        field.cameras.resize(size_t(cameras));
        for (AcquiredCamera& camera : field.cameras) readCamera(field, camera);
    }
    ++fieldsRead;
    return field;
}

void AcquireSession::readCamera(AcquiredField& field, AcquiredCamera& camera) {
    if (field.images) {
        camera.width = connection.receiveU16();
        camera.height = connection.receiveU16();
        camera.pixels.resize(size_t(camera.width) * camera.height);
        connection.receive(camera.pixels.data(), camera.pixels.size());
        downloaded += 4 + camera.pixels.size();
    }
    if (field.globs) {
        uint16_t marker = connection.receiveU16();
        uint16_t length = connection.receiveU16();
        uint16_t count = connection.receiveU16();
        if (marker != kCentroidMarker || length != (3u * count + 1) * 2)
            throw ClientError("malformed centroid block in field " + std::to_string(field.number));
        camera.centroids.resize(count);
        for (AcquiredCentroid& c : camera.centroids) {
            uint8_t bytes[6];
            connection.receive(bytes, sizeof bytes);
            c = {loadU16(bytes), loadU16(bytes + 2), loadU16(bytes + 4)};
        }
        downloaded += 6 + 6u * count;
    }
}

}  // namespace fyclient
