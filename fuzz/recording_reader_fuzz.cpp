// Feeds arbitrary bytes to the recording reader, as a file. It must refuse or read them without
// reading outside what it holds or allocating for lengths the file does not back, and whatever
// it reads must write back to a file that reads the same.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tools/recording/recording.h"

namespace {

std::string asFile(const uint8_t* data, size_t size) {
    int fd = memfd_create("recording", 0);
    if (fd < 0) std::abort();
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string path = asFile(data, size);
    fyrec::Recording first;
    try {
        first = fyrec::readRecording(path);
    } catch (const fyrec::RecordingError&) {
        close(std::stoi(path.substr(14)));
        return 0;
    }
    close(std::stoi(path.substr(14)));
    std::string copy = asFile(nullptr, 0);
    {
        fyrec::RecordingWriter writer(copy, first.header);
        for (const auto& frame : first.frames) writer.write(frame);
    }
    fyrec::Recording second = fyrec::readRecording(copy);
    close(std::stoi(copy.substr(14)));
    check(!second.error);
    check(second.frames.size() == first.frames.size());
    check(second.header.cameras.size() == first.header.cameras.size());
    for (size_t f = 0; f < first.frames.size(); ++f) {
        check(second.frames[f].micros == first.frames[f].micros);
        check(second.frames[f].timecode == first.frames[f].timecode);
        for (size_t c = 0; c < first.frames[f].cameras.size(); ++c) {
            check(second.frames[f].cameras[c].size() == first.frames[f].cameras[c].size());
        }
    }
    return 0;
}
