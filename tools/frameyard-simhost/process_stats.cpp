#include "tools/frameyard-simhost/process_stats.h"

#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace simhost {

int openDescriptors() {
    DIR* directory = ::opendir("/proc/self/fd");
    if (!directory) return -1;
    int count = 0;
    while (dirent* entry = ::readdir(directory))
        if (entry->d_name[0] != '.') ++count;
    ::closedir(directory);
    return count - 1;  // the listing's own descriptor
}

long residentKib() {
    std::FILE* file = std::fopen("/proc/self/statm", "r");
    if (!file) return -1;
    long size = 0, resident = -1;
    if (std::fscanf(file, "%ld %ld", &size, &resident) != 2) resident = -1;
    std::fclose(file);
    return resident < 0 ? -1 : resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

void CallTimer::end(bool movedFrame) {
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    longestAll = std::max(longestAll, took);
    if (!movedFrame) longestQuiet = std::max(longestQuiet, took);
}

}  // namespace simhost
