#include "tools/recording/recording.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>

namespace fyrec {
namespace {

constexpr uint8_t kMagic[8] = {'F', 'Y', 'R', 'E', 'C', '\r', '\n', 0x1A};
constexpr size_t kPreambleSize = 16;   // magic, major, minor, header length
constexpr uint8_t kFrameType = 'F', kRateType = 'R', kNoteType = 'N';
constexpr size_t kRecordHeadSize = 5;   // type, length
// Far above any real header or record (64 cameras of 2000 centroids make half a megabyte);
// a larger length is damage, and nothing that size is allocated for it.
constexpr uint32_t kMaxHeader = 16u << 20;
constexpr uint32_t kMaxRecord = 64u << 20;
constexpr uint8_t kCompactFlag = 1, kTimecodesFlag = 2, kTimecodePresent = 1;

std::string errnoText() { return std::strerror(errno); }

// ---- Encoding: big-endian, as everything else this system writes.

class Bytes {
public:
    void u8(uint8_t v) { out.push_back(v); }
    void u16(uint16_t v) { be(v, 2); }
    void u32(uint32_t v) { be(v, 4); }
    void u64(uint64_t v) { be(v, 8); }
    void i32(int32_t v) { u32(static_cast<uint32_t>(v)); }
    void f32(float v) { u32(std::bit_cast<uint32_t>(v)); }
    void str(const std::string& s) {
        u16(static_cast<uint16_t>(std::min<size_t>(s.size(), 0xFFFF)));
        out.insert(out.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(s.size(), 0xFFFF)));
    }
    void raw(const uint8_t* p, size_t n) { out.insert(out.end(), p, p + n); }
    std::vector<uint8_t> out;

private:
    void be(uint64_t v, int n) {
        for (int shift = 8 * (n - 1); shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(v >> shift));
    }
};

// A record's bytes: type, length, payload.
std::vector<uint8_t> framed(uint8_t type, const Bytes& payload) {
    Bytes record;
    record.u8(type);
    record.u32(static_cast<uint32_t>(payload.out.size()));
    record.raw(payload.out.data(), payload.out.size());
    return std::move(record.out);
}

Bytes encodeHeaderBody(const Header& header) {
    Bytes b;
    b.u64(header.startMicros);
    b.u8(static_cast<uint8_t>((header.compact ? kCompactFlag : 0) | (header.timecodes ? kTimecodesFlag : 0)));
    b.u16(static_cast<uint16_t>(header.cameras.size()));
    for (const CameraEntry& c : header.cameras) {
        b.str(c.name);
        b.u16(c.width);
        b.u16(c.height);
        b.u8(c.sizeGiven ? 1 : 0);
        for (float edge : {c.region.left, c.region.right, c.region.top, c.region.bottom}) b.f32(edge);
        b.u16(c.threshold);
        b.u16(static_cast<uint16_t>(c.settings.size()));
        for (const SettingEntry& s : c.settings) {
            b.str(s.name);
            b.f32(s.value);
            b.f32(s.minimum);
            b.f32(s.maximum);
            b.i32(s.precision);
        }
    }
    return b;
}

// ---- Decoding: a cursor over bytes in memory that names the file offset of what is missing.

class Cursor {
public:
    Cursor(const std::vector<uint8_t>& bytes, uint64_t fileOffset, std::string what)
        : bytes(bytes), base(fileOffset), what(std::move(what)) {}

    uint8_t u8() { return take(1)[0]; }
    uint16_t u16() { return static_cast<uint16_t>(be(2)); }
    uint32_t u32() { return static_cast<uint32_t>(be(4)); }
    uint64_t u64() { return be(8); }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    float f32() { return std::bit_cast<float>(u32()); }
    std::string str() {
        size_t n = u16();
        const uint8_t* p = take(n);
        return std::string(reinterpret_cast<const char*>(p), n);
    }
    const uint8_t* take(size_t n) {
        if (bytes.size() - pos < n) {
            throw RecordingError("offset " + std::to_string(base + pos) + ": " + what + " ends inside its fields");
        }
        const uint8_t* p = bytes.data() + pos;
        pos += n;
        return p;
    }
    uint64_t offset() const { return base + pos; }

private:
    uint64_t be(int n) {
        const uint8_t* p = take(static_cast<size_t>(n));
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
        return v;
    }

    const std::vector<uint8_t>& bytes;
    uint64_t base;
    std::string what;
    size_t pos = 0;
};

Header decodeHeaderBody(Cursor& in, uint16_t major, uint16_t minor) {
    Header h;
    h.major = major;
    h.minor = minor;
    h.startMicros = in.u64();
    uint8_t flags = in.u8();
    h.compact = (flags & kCompactFlag) != 0;
    h.timecodes = (flags & kTimecodesFlag) != 0;
    uint16_t cameras = in.u16();
    for (uint16_t i = 0; i < cameras; ++i) {
        CameraEntry c;
        c.name = in.str();
        c.width = in.u16();
        c.height = in.u16();
        c.sizeGiven = in.u8() != 0;
        c.region = {in.f32(), in.f32(), in.f32(), in.f32()};
        c.threshold = in.u16();
        uint16_t settings = in.u16();
        for (uint16_t s = 0; s < settings; ++s) {
            SettingEntry e;
            e.name = in.str();
            e.value = in.f32();
            e.minimum = in.f32();
            e.maximum = in.f32();
            e.precision = in.i32();
            c.settings.push_back(std::move(e));
        }
        h.cameras.push_back(std::move(c));
    }
    return h;
}

FrameRecord decodeFrame(Cursor& in, size_t cameraCount) {
    FrameRecord f;
    f.micros = in.u64();
    uint8_t flags = in.u8();
    const uint8_t* tc = in.take(4);
    if (flags & kTimecodePresent) f.timecode = std::array<uint8_t, 4>{tc[0], tc[1], tc[2], tc[3]};
    uint64_t countAt = in.offset();
    uint16_t cameras = in.u16();
    if (cameras != cameraCount) {
        throw RecordingError("offset " + std::to_string(countAt) + ": frame of " + std::to_string(cameras) +
                             " cameras in a recording of " + std::to_string(cameraCount));
    }
    f.cameras.resize(cameras);
    for (auto& list : f.cameras) {
        uint16_t n = in.u16();
        // The count is checked against the bytes there before anything is allocated for it.
        const uint8_t* p = in.take(size_t{n} * 8);
        list.resize(n);
        for (uint16_t i = 0; i < n; ++i, p += 8) {
            auto word = [](const uint8_t* q) {
                return std::bit_cast<float>(uint32_t{q[0]} << 24 | uint32_t{q[1]} << 16 | uint32_t{q[2]} << 8 | q[3]);
            };
            list[i] = {word(p), word(p + 4)};
        }
    }
    return f;
}

}  // namespace

// ---- Writer

RecordingWriter::RecordingWriter(const std::string& path, const Header& header)
    : path(path), cameraCount(header.cameras.size()) {
    fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw RecordingError("cannot create " + path + ": " + errnoText());
    Bytes preamble;
    preamble.raw(kMagic, sizeof kMagic);
    preamble.u16(kMajorVersion);
    preamble.u16(kMinorVersion);
    Bytes body = encodeHeaderBody(header);
    preamble.u32(static_cast<uint32_t>(body.out.size()));
    preamble.raw(body.out.data(), body.out.size());
    append(preamble.out);
}

RecordingWriter::~RecordingWriter() {
    if (fd >= 0) ::close(fd);
}

void RecordingWriter::write(const FrameRecord& frame) {
    Bytes b;
    b.u64(frame.micros);
    b.u8(frame.timecode ? kTimecodePresent : 0);
    std::array<uint8_t, 4> tc = frame.timecode.value_or(std::array<uint8_t, 4>{0, 0, 0, 0});
    b.raw(tc.data(), tc.size());
    // A frame always lists every camera of the header, so that readers need no other count.
    b.u16(static_cast<uint16_t>(cameraCount));
    for (size_t c = 0; c < cameraCount; ++c) {
        const std::vector<Point> none;
        const std::vector<Point>& list = c < frame.cameras.size() ? frame.cameras[c] : none;
        size_t n = std::min<size_t>(list.size(), 0xFFFF);
        b.u16(static_cast<uint16_t>(n));
        for (size_t i = 0; i < n; ++i) {
            b.f32(list[i].x);
            b.f32(list[i].y);
        }
    }
    append(framed(kFrameType, b));
}

void RecordingWriter::write(const RateRecord& rate) {
    Bytes b;
    b.u64(rate.micros);
    b.u8(static_cast<uint8_t>(rate.kind));
    b.f32(rate.rate);
    append(framed(kRateType, b));
}

void RecordingWriter::write(const NoteRecord& note) {
    Bytes b;
    b.u64(note.micros);
    b.raw(reinterpret_cast<const uint8_t*>(note.text.data()), note.text.size());
    append(framed(kNoteType, b));
}

void RecordingWriter::append(const std::vector<uint8_t>& bytes) {
    if (fd < 0) throw RecordingError(path + ": the recording is closed");
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            std::string reason = n < 0 ? errnoText() : "nothing written";
            // A part of a record must not stay behind for a reader to take as data.
            if (::ftruncate(fd, static_cast<off_t>(size)) != 0 || ::lseek(fd, static_cast<off_t>(size), SEEK_SET) < 0) {
                reason += "; the partial record could not be removed";
            }
            throw RecordingError("cannot write " + path + " at offset " + std::to_string(size) + ": " + reason);
        }
        done += static_cast<size_t>(n);
    }
    size += bytes.size();
}

void RecordingWriter::close() {
    if (fd < 0) return;
    int rc = ::close(fd);
    fd = -1;
    if (rc != 0) throw RecordingError("cannot close " + path + ": " + errnoText());
}

// ---- Reader

RecordingReader::RecordingReader(const std::string& path) : path(path) {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw RecordingError("cannot open " + path + ": " + errnoText());
    std::vector<uint8_t> preamble = take(kPreambleSize);
    if (preamble.empty()) fail(0, "empty file, no recording header");
    if (preamble.size() < sizeof kMagic || std::memcmp(preamble.data(), kMagic, sizeof kMagic) != 0) {
        fail(0, "not a frameyard recording (bad magic)");
    }
    if (preamble.size() < kPreambleSize) fail(preamble.size(), "file ends inside the recording header");
    Cursor in(preamble, 0, "header");
    in.take(sizeof kMagic);
    uint16_t major = in.u16(), minor = in.u16();
    if (major != kMajorVersion) {
        fail(8, "recording format version " + std::to_string(major) + "." + std::to_string(minor) +
                    " is not readable here (this reader reads version " + std::to_string(kMajorVersion) + ".x)");
    }
    uint32_t length = in.u32();
    if (length > kMaxHeader) fail(12, "header of " + std::to_string(length) + " bytes announced");
    std::vector<uint8_t> body = take(length);
    if (body.size() < length) {
        fail(kPreambleSize + body.size(), "file ends inside the recording header (" + std::to_string(length) +
                                              " bytes announced, " + std::to_string(body.size()) + " present)");
    }
    try {
        Cursor fields(body, kPreambleSize, "header");
        head = decodeHeaderBody(fields, major, minor);
    } catch (const RecordingError& error) {
        throw RecordingError(path + ": " + error.what());
    }
}

RecordingReader::~RecordingReader() {
    if (fd >= 0) ::close(fd);
}

std::vector<uint8_t> RecordingReader::take(size_t n) {
    std::vector<uint8_t> out(n);
    size_t got = 0;
    while (got < n) {
        ssize_t r = ::read(fd, out.data() + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) fail(offset + got, "cannot read: " + errnoText());
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    out.resize(got);
    offset += got;
    return out;
}

void RecordingReader::fail(uint64_t at, const std::string& what) const {
    throw RecordingError(path + ": offset " + std::to_string(at) + ": " + what);
}

std::optional<Record> RecordingReader::next() {
    for (;;) {
        uint64_t start = offset;
        std::vector<uint8_t> head5 = take(kRecordHeadSize);
        if (head5.empty()) return std::nullopt;
        if (head5.size() < kRecordHeadSize) {
            fail(start, "record cut short (" + std::to_string(head5.size()) + " of its 5 header bytes present)");
        }
        uint8_t type = head5[0];
        uint32_t length = uint32_t{head5[1]} << 24 | uint32_t{head5[2]} << 16 | uint32_t{head5[3]} << 8 | head5[4];
        if (length > kMaxRecord) fail(start, "record of " + std::to_string(length) + " bytes announced");
        std::vector<uint8_t> payload = take(length);
        if (payload.size() < length) {
            fail(start, std::string("record cut short (type '") + static_cast<char>(type) + "', " +
                            std::to_string(length) + " bytes announced, " + std::to_string(payload.size()) + " present)");
        }
        Record record;
        record.offset = start;
        try {
            Cursor in(payload, start + kRecordHeadSize, std::string("record of type '") + static_cast<char>(type) + "'");
            if (type == kFrameType) {
                record.frame = decodeFrame(in, head.cameras.size());
            } else if (type == kRateType) {
                RateRecord r;
                r.micros = in.u64();
                r.kind = in.u8() == 1 ? RateRecord::Kind::timecode : RateRecord::Kind::frame;
                r.rate = in.f32();
                record.rate = r;
            } else if (type == kNoteType) {
                NoteRecord n;
                n.micros = in.u64();
                n.text.assign(payload.begin() + 8, payload.end());
                record.note = std::move(n);
            } else {
                continue;   // a record type of a later minor version
            }
        } catch (const RecordingError& error) {
            throw RecordingError(path + ": " + error.what());
        }
        return record;
    }
}

Recording readRecording(const std::string& path) {
    RecordingReader reader(path);
    Recording recording;
    recording.header = reader.header();
    try {
        while (std::optional<Record> record = reader.next()) {
            if (record->frame) recording.frames.push_back(std::move(*record->frame));
            if (record->rate) recording.rates.push_back(*record->rate);
            if (record->note) recording.notes.push_back(std::move(*record->note));
        }
    } catch (const RecordingError& error) {
        recording.error = error.what();
    }
    return recording;
}

}  // namespace fyrec
