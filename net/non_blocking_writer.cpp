#include "net/non_blocking_writer.h"

#include <algorithm>
#include <climits>

int LuNonBlockingWriter::flush() {
    long long total = 0;
    while (!queue_.isEmpty()) {
        // The total must fit the int returned; the rest goes next time.
        LuBytePiece pieces[maxPieces];
        size_t count = queue_.gather(pieces, maxPieces, static_cast<size_t>(INT_MAX - total));
        size_t length = totalLength(pieces, count);
        if (length == 0) break;
        int sent = writeSome(pieces, count);
        if (sent < 0) return -1;
        size_t moved = std::min(static_cast<size_t>(sent), length);
        queue_.consume(moved);
        total += static_cast<long long>(moved);
        if (moved < length) break;  // the destination is full
    }
    return static_cast<int>(total);
}

template <typename EnqueueFrom>
int LuNonBlockingWriter::send(const LuBytePiece* fresh, size_t freshCount, EnqueueFrom enqueueFrom) {
    size_t length = totalLength(fresh, freshCount);
    if (length > INT_MAX || freshCount > maxLentPieces) return -1;
    LuBytePiece pieces[maxPieces];
    size_t count = queue_.gather(pieces, maxPieces - maxLentPieces, INT_MAX - length);
    size_t queued = totalLength(pieces, count);
    if (queued < queue_.getSize()) {
        if (flush() < 0) return -1;
        // New bytes never overtake queued ones.
        if (!queue_.isEmpty()) return enqueueFrom(size_t{0}) ? static_cast<int>(length) : -1;
        count = queued = 0;
    }
    for (size_t i = 0; i < freshCount; ++i)
        if (fresh[i].length > 0) pieces[count++] = fresh[i];
    if (count == 0) return 0;
    int sent = writeSome(pieces, count);
    if (sent < 0) return -1;
    size_t moved = std::min(static_cast<size_t>(sent), queued + length);
    queue_.consume(std::min(moved, queued));
    size_t taken = moved > queued ? moved - queued : 0;
    if (taken < length && !enqueueFrom(taken)) return -1;
    return static_cast<int>(length);
}

int LuNonBlockingWriter::write(const void* data, size_t length) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    LuBytePiece piece{bytes, length};
    return send(&piece, 1, [&](size_t from) {
        if (!admit(length - from)) return false;
        queue_.append(bytes + from, length - from);
        return true;
    });
}

int LuNonBlockingWriter::writeShared(const LuSharedBytes& bytes) {
    LuBytePiece piece{bytes.data(), bytes.size()};
    return send(&piece, 1, [&](size_t from) {
        if (!admit(bytes.size() - from)) return false;
        queue_.appendShared(bytes, from);
        return true;
    });
}

int LuNonBlockingWriter::writeLent(const LuBytePiece* pieces, size_t count, LuSharedBytesSource& source) {
    size_t length = totalLength(pieces, count);
    return send(pieces, count, [&](size_t from) {
        if (!admit(length - from)) return false;
        const LuSharedBytes& kept = source.bytes();
        if (kept.size() != length) return false;  // not the bytes lent: nothing sane to queue
        queue_.appendShared(kept, from);
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

int RyNonBlockingWriterWithTimeout::writeSome(const LuBytePiece* pieces, size_t count) {
    if (count == 0) return 0;
    // A single run goes by the plain write that every socket offers.
    int written = count == 1 ? socket_.write(pieces[0].data, pieces[0].length) : socket_.writeGathered(pieces, count);
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
