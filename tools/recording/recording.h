#pragma once
// Recording files: a realtime stream captured by a client (frames with their receive times,
// the cameras as described, the rates the server announced), written one whole record at a
// time and read back with every damage reported as one line naming the file offset. The
// layout is docs/recording-format.md.
#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/recording/display_mapping.h"

namespace fyrec {

constexpr uint16_t kMajorVersion = 1;
constexpr uint16_t kMinorVersion = 0;

// A file that cannot be written, or read as a recording. The text is one line.
class RecordingError : public std::runtime_error {
public:
    explicit RecordingError(const std::string& message) : std::runtime_error(message) {}
};

struct SettingEntry {
    std::string name;
    float value = 0;
    float minimum = 0;   // -infinity: unbounded
    float maximum = 0;   // +infinity: unbounded
    int32_t precision = 0;
};

struct CameraEntry {
    std::string name;
    uint16_t width = 0, height = 0;   // image pixels
    bool sizeGiven = false;           // false: inferred from the display region
    DisplayRegion region;             // as the camera description stated it
    uint16_t threshold = 0;
    std::vector<SettingEntry> settings;
};

struct Header {
    uint16_t major = kMajorVersion, minor = kMinorVersion;
    uint64_t startMicros = 0;   // wall clock at the start, microseconds since 1970
    bool compact = false;       // positions came in the 1/128-unit compact form
    bool timecodes = false;
    std::vector<CameraEntry> cameras;
};

struct Point {
    float x = 0, y = 0;   // image pixels
};

struct FrameRecord {
    uint64_t micros = 0;   // receive time since the start
    std::optional<std::array<uint8_t, 4>> timecode;
    std::vector<std::vector<Point>> cameras;   // in the header's camera order
};

struct RateRecord {
    enum class Kind : uint8_t { frame = 0, timecode = 1 };
    uint64_t micros = 0;
    Kind kind = Kind::frame;
    float rate = 0;
};

struct NoteRecord {
    uint64_t micros = 0;
    std::string text;
};

// One record as read; exactly one of the three is set.
struct Record {
    uint64_t offset = 0;   // where the record starts in the file
    std::optional<FrameRecord> frame;
    std::optional<RateRecord> rate;
    std::optional<NoteRecord> note;
};

// Writes a recording. Each record is assembled whole, written with one write() and so handed
// to the system before the call returns: whatever stops the program, the file ends on a whole
// record. A failed write takes the file back to its last whole record and throws.
class RecordingWriter {
public:
    RecordingWriter(const std::string& path, const Header& header);
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    void write(const FrameRecord& frame);
    void write(const RateRecord& rate);
    void write(const NoteRecord& note);
    uint64_t bytes() const { return size; }
    void close();

private:
    void append(const std::vector<uint8_t>& bytes);

    std::string path;
    int fd = -1;
    uint64_t size = 0;
    size_t cameraCount = 0;
};

// Reads a recording record by record. The constructor reads the header and throws on a file
// that is empty, not a recording, of a newer major version or cut inside its header. next()
// throws on a record cut short or malformed, after every record before it was returned.
class RecordingReader {
public:
    explicit RecordingReader(const std::string& path);
    ~RecordingReader();
    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;

    const Header& header() const { return head; }
    // The next record of a known type (others are skipped); nullopt at the end of the file.
    std::optional<Record> next();

private:
    // Reads up to n bytes at the current offset; fewer only at the end of the file.
    std::vector<uint8_t> take(size_t n);
    [[noreturn]] void fail(uint64_t offset, const std::string& what) const;

    std::string path;
    int fd = -1;
    uint64_t offset = 0;
    Header head;
};

// A whole file: the records before any damage, and the damage's one-line text.
struct Recording {
    Header header;
    std::vector<FrameRecord> frames;
    std::vector<RateRecord> rates;
    std::vector<NoteRecord> notes;
    std::optional<std::string> error;
};
// Throws RecordingError when not even the header can be read.
Recording readRecording(const std::string& path);

}  // namespace fyrec
