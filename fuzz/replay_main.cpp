// Replays a fuzz target's corpus in a normal build: every file named on the command line, or
// found in a directory named there, goes once through LLVMFuzzerTestOneInput, so that an input
// that once crashed a target keeps being tried by every test run. A target reports a fault by
// crashing or aborting; a corpus without a single input fails too, since it tests nothing.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool isDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The regular files of a directory, in name order so that runs are repeatable.
std::vector<std::string> filesIn(const std::string& directory) {
    std::vector<std::string> files;
    if (DIR* listing = ::opendir(directory.c_str())) {
        while (dirent* entry = ::readdir(listing)) {
            std::string path = directory + "/" + entry->d_name;
            if (entry->d_name[0] != '.' && !isDirectory(path)) files.push_back(path);
        }
        ::closedir(listing);
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool replay(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // An exact heap copy, so that the address sanitizer sees a read past the input's end.
    std::vector<uint8_t> input(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(input.data(), input.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::string> paths = isDirectory(argv[i]) ? filesIn(argv[i]) : std::vector<std::string>{argv[i]};
        for (const std::string& path : paths) {
            if (!replay(path)) {
                std::fprintf(stderr, "cannot read %s\n", path.c_str());
                return 1;
            }
            ++replayed;
        }
    }
    std::printf("%zu inputs replayed\n", replayed);
    return replayed > 0 ? 0 : 1;
}
