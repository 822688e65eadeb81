#pragma once
// Writers that never block the host: what the destination does not take at once is queued and
// sent, in order, by later flushes and writes. A write hands the queued bytes and its own to the
// destination in one gathered call, so a large backlog is not copied to make way for them.
#include <cstddef>
#include <cstdint>

#include "net/clock.h"
#include "net/output_queue.h"
#include "net/shared_bytes.h"
#include "net/socket_interface.h"

class LuNonBlockingWriter {
public:
    LuNonBlockingWriter() = default;
    virtual ~LuNonBlockingWriter() = default;
    LuNonBlockingWriter(const LuNonBlockingWriter&) = delete;
    LuNonBlockingWriter& operator=(const LuNonBlockingWriter&) = delete;

    // Sends queued bytes until the destination is full; the count sent now, or -1 when the
    // destination failed (the queue keeps its bytes).
    int flush();
    // Accepts every byte (returns length) or fails with -1; queued bytes always go out first.
    // Lengths above INT_MAX are refused with -1.
    int write(const void* data, size_t length);
    // As write(), but what the destination does not take at once is queued by reference to
    // the shared bytes, not copied; its size counts against the queue limit all the same.
    int writeShared(const LuSharedBytes& bytes);
    // As writeShared(), for bytes lent in pieces (at most maxLentPieces) for this call only:
    // when the destination does not take them all, the rest waits by reference in
    // source.bytes(), which is asked for them only then.
    int writeLent(const LuBytePiece* pieces, size_t count, LuSharedBytesSource& source);
    static constexpr size_t maxLentPieces = 4;
    uint64_t pendingBytes() const { return queue_.getSize(); }
    const LuOutputQueue& queue() const { return queue_; }

protected:
    // Hands the pieces, in order, to the destination: how many bytes it took (0 and more) or
    // negative on failure. There is at least one piece, none is empty, and together they hold
    // at most INT_MAX bytes.
    virtual int writeSome(const LuBytePiece* pieces, size_t count) = 0;
    // The most bytes the queue may hold. A write that would queue more calls queueOverflow(),
    // queues nothing and fails.
    virtual uint64_t queueLimit() const { return UINT64_MAX; }
    virtual void queueOverflow() {}

private:
    // The most pieces one gathered write hands over: a backlog of more goes by flush() first.
    static constexpr size_t maxPieces = 64;

    // Sends what is queued together with the new bytes (at most maxLentPieces pieces); whatever
    // is left of the new bytes from some offset on goes to enqueueFrom(offset).
    template <typename EnqueueFrom>
    int send(const LuBytePiece* fresh, size_t freshCount, EnqueueFrom enqueueFrom);
    // False (after queueOverflow()) when the queue would outgrow its limit.
    bool admit(size_t length);

    LuOutputQueue queue_;
};

// The writer of one client connection. A client that takes no bytes for more than
// stallTimeout seconds while output waits, or that lets more than maxPendingBytes pile up, is
// cut off: its socket is aborted and the write fails.
class RyNonBlockingWriterWithTimeout : public LuNonBlockingWriter {
public:
    static constexpr double stallTimeout = 10.0;
    static constexpr uint64_t maxPendingBytes = 64ull * 1024 * 1024;

    // Neither the socket nor the clock is owned.
    RyNonBlockingWriterWithTimeout(RySocketInterface& socket, RyStoreProtocol::AbstractClock& clock)
        : socket_(socket), clock_(clock) {}

    // When the last write moved a byte (-1 before the first one).
    double lastProgressTime() const { return lastProgress_; }
    bool isStalled() const { return stalled_; }

protected:
    int writeSome(const LuBytePiece* pieces, size_t count) override;
    uint64_t queueLimit() const override { return maxPendingBytes; }
    void queueOverflow() override { socket_.abort(); }

private:
    RySocketInterface& socket_;
    RyStoreProtocol::AbstractClock& clock_;
    double lastProgress_ = -1.0;
    // The stall is timed from the first attempt that moved nothing: time spent with nothing to
    // send is not the client's fault.
    bool stalled_ = false;
    double stallStart_ = 0.0;
};
