#include "net/non_blocking_writer.h"

#include <climits>

int LuNonBlockingWriter::flush() {
    long long total = 0;
    while (!queue_.isEmpty()) {
        LuOutputQueue::Chunk chunk = queue_.front();
        // The total must fit the int returned; the rest goes next time.
        size_t room = static_cast<size_t>(INT_MAX - total);
        size_t length = chunk.length < room ? chunk.length : room;
        if (length == 0) break;
        int sent = writeSome(chunk.data, length);
        if (sent < 0) return -1;
        size_t moved = static_cast<size_t>(sent) < length ? static_cast<size_t>(sent) : length;
        queue_.consume(moved);
        total += static_cast<long long>(moved);
        if (moved < length) break;  // the destination is full
    }
    return static_cast<int>(total);
}

template <typename EnqueueFrom>
int LuNonBlockingWriter::send(const uint8_t* data, size_t length, EnqueueFrom enqueueFrom) {
    if (length > INT_MAX) return -1;
    if (flush() < 0) return -1;
    if (!queue_.isEmpty()) {
        // New bytes never overtake queued ones.
        if (!enqueueFrom(size_t{0})) return -1;
    } else if (length > 0) {
        int sent = writeSome(data, length);
        if (sent < 0) return -1;
        size_t moved = static_cast<size_t>(sent) < length ? static_cast<size_t>(sent) : length;
        if (moved < length && !enqueueFrom(moved)) return -1;
    }
    return static_cast<int>(length);
}

int LuNonBlockingWriter::write(const void* data, size_t length) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    return send(bytes, length, [&](size_t from) {
        if (!admit(length - from)) return false;
        queue_.append(bytes + from, length - from);
        return true;
    });
}

int LuNonBlockingWriter::writeShared(const LuSharedBytes& bytes) {
    return send(bytes.data(), bytes.size(), [&](size_t from) {
        if (!admit(bytes.size() - from)) return false;
        queue_.appendShared(bytes, from);
        return true;
    });
}

bool LuNonBlockingWriter::admit(size_t length) {
    if (length > queueLimit() - queue_.getSize()) {
        queueOverflow();
        return false;
    }
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
