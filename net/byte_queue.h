#pragma once
// The unbounded FIFO of bytes a client has not taken yet, kept in linked 64 KiB blocks so that
// appending never moves queued bytes. The first block is allocated only when a byte is queued,
// so the queue of an idle session costs a few words.
#include <cstddef>
#include <cstdint>

#include "net/byte_piece.h"

class LuByteQueue {
public:
    static constexpr size_t blockSize = 65536;

    // The bytes that follow the first queued byte contiguously.
    using Chunk = LuBytePiece;

    LuByteQueue() = default;
    ~LuByteQueue();
    LuByteQueue(const LuByteQueue&) = delete;
    LuByteQueue& operator=(const LuByteQueue&) = delete;

    void append(const void* data, size_t length);
    uint64_t getSize() const { return size_; }
    bool isEmpty() const { return size_ == 0; }
    // {nullptr, 0} when the queue is empty.
    Chunk front() const;
    // Removes n bytes from the front (at most getSize()). A used-up first block is freed unless
    // it is the last one, which is kept for reuse with both offsets back at 0.
    void consume(size_t n);
    // Copies up to n bytes out and consumes them; returns how many were copied.
    size_t read(void* buffer, size_t n);
    // How many blocks are allocated (for tests and accounting).
    size_t blockCount() const;

    // Walks the queued bytes from the front, block by block, without consuming them; any
    // change to the queue ends the walk.
    class Reader;

private:
    struct Block {
        Block* next;
        uint8_t data[blockSize];
    };

    size_t firstBlockEnd() const { return first_ == last_ ? writeOffset_ : blockSize; }

    Block* first_ = nullptr;
    Block* last_ = nullptr;
    uint32_t readOffset_ = 0;
    uint32_t writeOffset_ = 0;
    uint64_t size_ = 0;
};

class LuByteQueue::Reader {
public:
    explicit Reader(const LuByteQueue& queue)
        : queue_(queue), block_(queue.first_), offset_(queue.readOffset_), left_(queue.size_) {}
    // The next bytes that lie contiguously, at most maxLength; {nullptr, 0} past the end.
    Chunk next(size_t maxLength);

private:
    const LuByteQueue& queue_;
    const Block* block_;
    size_t offset_;
    uint64_t left_;
};
