#pragma once
// The socket a session's protocols use: output goes through a writer that never blocks and cuts
// off a stalled client; input comes from the session's own buffer, which the multi-client
// handler fills (drainInput()) when its one poll over every connection found this one readable.
//
// Once a write has failed (the client was cut off, or the connection broke) the inner socket is
// drained at every chance, so the end of the connection shows up as input that fails to read.
// The handler must then stop polling the inner descriptor (outputFailed()): an aborted
// connection's descriptor is already closed.
#include <cstddef>
#include <cstdint>

#include "net/clock.h"
#include "net/input_buffer.h"
#include "net/non_blocking_writer.h"
#include "net/socket_interface.h"

class NonBlockingSocket : public RySocketInterface {
public:
    // Neither inner nor clock is owned. With pollInner set, hasInput() and an empty read drain
    // the inner socket themselves (for a session that is not part of a shared poll).
    NonBlockingSocket(RySocketInterface& inner, RyStoreProtocol::AbstractClock& clock, bool pollInner = false);

    // Flushes pending output first (its result is the writer's business), then reports whether
    // the input buffer has unread bytes or the peer has closed.
    bool hasInput() override;
    // Takes up to length buffered bytes and commits them (ending any open transaction):
    // 0 when none are there, -1 when none are and the peer has closed.
    int read(void* buffer, size_t length) override;
    // Through the writer: length, or -1 once the client is cut off or the connection failed.
    int write(const void* buffer, size_t length) override;
    // As write(), keeping a reference to the shared bytes instead of a copy while they wait.
    int writeShared(const LuSharedBytes& bytes) override;
    // Through the writer's lent write: the shared bytes are made only if some must wait.
    int writeLent(const LuBytePiece* pieces, size_t count, LuSharedBytesSource& source) override;
    void close() override { inner_.close(); }
    // The writer aborts the inner socket itself; protocols do not.
    void abort() override {}
    bool isOpen() const override { return inner_.isOpen(); }
    void setNoDelay() override { inner_.setNoDelay(); }
    // The inner socket is made non-blocking by the session that owns it.
    void setNonBlocking(bool) override {}
    bool isNonBlocking() const override { return inner_.isNonBlocking(); }
    LuStr getPeerName() const override { return inner_.getPeerName(); }
    unsigned short getSockPort() const override { return inner_.getSockPort(); }

    SessionInputBuffer& input() { return input_; }
    const SessionInputBuffer& input() const { return input_; }
    RyNonBlockingWriterWithTimeout& writer() { return writer_; }
    RySocketInterface& inner() { return inner_; }
    // Moves what the inner socket holds into the input buffer; the number of bytes moved.
    size_t drainInput() { return input_.fillFrom(inner_); }
    bool outputFailed() const { return outputFailed_; }
    // A line written to the diagnostic stream whenever a write fails; null (the default) for none.
    void setWriteFailureNotice(const char* text) { writeFailureNotice_ = text; }
    // Sends what the writer has queued; false once the output has failed (the end of the
    // connection then shows up as input, as after a failed write).
    bool flushOutput();
    // Bytes written but not yet taken by the client: producers of long answers pace on it.
    uint64_t pendingOutput() const { return writer_.pendingBytes(); }

private:
    // After a failed write: the end of the connection must show up as input.
    int checked(int written);

    RySocketInterface& inner_;
    RyNonBlockingWriterWithTimeout writer_;
    SessionInputBuffer input_;
    bool pollInner_;
    bool outputFailed_ = false;
    const char* writeFailureNotice_ = nullptr;
};
