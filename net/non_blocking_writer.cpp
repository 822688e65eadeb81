#include "net/non_blocking_writer.h"

#include <climits>

namespace {
// A flush stops before its total could overflow the int it returns; the rest goes next time.
constexpr long long maxFlushTotal = INT_MAX - static_cast<long long>(LuByteQueue::blockSize);
}  // namespace

int LuNonBlockingWriter::flush() {
    long long total = 0;
    while (!queue_.isEmpty() && total <= maxFlushTotal) {
        LuByteQueue::Chunk chunk = queue_.front();
        int sent = writeSome(chunk.data, chunk.length);
        if (sent < 0) return -1;
        size_t moved = static_cast<size_t>(sent) < chunk.length ? static_cast<size_t>(sent) : chunk.length;
        queue_.consume(moved);
        total += static_cast<long long>(moved);
        if (moved < chunk.length) break;  // the destination is full
    }
    return static_cast<int>(total);
}

int LuNonBlockingWriter::write(const void* data, size_t length) {
    if (length > INT_MAX) return -1;
    if (flush() < 0) return -1;
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    if (!queue_.isEmpty()) {
        // New bytes never overtake queued ones.
        if (!enqueue(bytes, length)) return -1;
    } else if (length > 0) {
        int sent = writeSome(bytes, length);
        if (sent < 0) return -1;
        size_t moved = static_cast<size_t>(sent) < length ? static_cast<size_t>(sent) : length;
        if (!enqueue(bytes + moved, length - moved)) return -1;
    }
    return static_cast<int>(length);
}

bool LuNonBlockingWriter::enqueue(const uint8_t* data, size_t length) {
    if (length == 0) return true;
    if (length > queueLimit() - queue_.getSize()) {
        queueOverflow();
        return false;
    }
    queue_.append(data, length);
    return true;
}

int RyNonBlockingWriterWithTimeout::writeSome(const void* data, size_t length) {
    if (length == 0) return 0;
    int written = socket_.write(data, length);
    if (written < 0) return -1;
    double now = clock_.now();
    if (written > 0) {
        lastProgress_ = now;
        stalled_ = false;
        return written;
    }
    if (!stalled_) {
        stalled_ = true;
        stallStart_ = now;
        return 0;
    }
    // NaN readings never cut a client off.
    if (now - stallStart_ > stallTimeout) {
        socket_.abort();
        return -1;
    }
    return 0;
}
