#include "toolkit/lu_array.h"

#include <cstdio>

#include "toolkit/diagnostics.h"

namespace lu_detail {

void arrayAllocationFailed(long long count, unsigned long long bytes) {
    fy::diagnostic("\nUnable to allocate memory!\nAttempted to allocate %lld elements, total size: %llu.\n\n",
                   count, bytes);
    std::abort();
}

}  // namespace lu_detail
