#pragma once
// The FIFO of a writer's pending output: bytes copied in (kept in 64 KiB blocks) and shared
// buffers held by reference, interleaved in the order they were written.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/byte_queue.h"
#include "net/shared_bytes.h"

class LuOutputQueue {
public:
    using Chunk = LuByteQueue::Chunk;

    // Copies the bytes.
    void append(const void* data, size_t length);
    // Holds the bytes from `offset` on by reference.
    void appendShared(const LuSharedBytes& bytes, size_t offset);
    uint64_t getSize() const { return size_; }
    bool isEmpty() const { return size_ == 0; }
    // The bytes that follow the first queued byte contiguously; {nullptr, 0} when empty.
    Chunk front() const;
    // Fills `pieces` with up to maxPieces runs that hold the queued bytes in order from the
    // front, at most maxBytes of them in all, for one gathered write; returns how many runs.
    size_t gather(Chunk* pieces, size_t maxPieces, size_t maxBytes) const;
    // Removes n bytes from the front (at most getSize()); a shared buffer is let go once all
    // of its bytes have left.
    void consume(size_t n);
    // Blocks of copied bytes allocated (for tests and accounting).
    size_t copyBlockCount() const { return copies_.blockCount(); }

private:
    // A run of queued bytes: `length` bytes of `shared` from `offset`, or, with no shared
    // buffer, the next `length` bytes of the copies.
    struct Segment {
        LuSharedBytes shared;
        size_t offset;
        size_t length;
    };

    void popFront();

    LuByteQueue copies_;
    // Segments from index head_ on are queued; the consumed ones before it are dropped in
    // batches, so that taking from the front stays cheap.
    std::vector<Segment> segments_;
    size_t head_ = 0;
    uint64_t size_ = 0;
};
