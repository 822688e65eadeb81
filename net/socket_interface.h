#pragma once
// The connected socket every protocol reads from and writes to: the system socket of an accepted
// connection, the session's buffering socket over it, or a test double.
#include <cstddef>

#include "net/byte_piece.h"
#include "net/shared_bytes.h"
#include "toolkit/lu_str.h"

class RySocketInterface {
public:
    virtual ~RySocketInterface() = default;

    virtual bool hasInput() = 0;
    // Bytes read; 0 when nothing can be read now; -1 at end of stream or on failure.
    virtual int read(void* buffer, size_t length) = 0;
    // Bytes written (possibly fewer than length); 0 when nothing can be written now; -1 on failure.
    virtual int write(const void* buffer, size_t length) = 0;
    // Writes the pieces in order, as write() would their concatenation (at most INT_MAX bytes
    // are taken): bytes written, 0 when nothing can be written now, -1 on failure. This default
    // goes piece by piece and stops at the first piece not taken whole. A failure after some
    // bytes went out returns their count: the failing piece is tried again by the next write,
    // which reports it, and no byte is ever sent twice.
    virtual int writeGathered(const LuBytePiece* pieces, size_t count);
    // As write(), for bytes others hold too: a socket that queues what it cannot send at once
    // may keep a reference to them instead of a copy.
    virtual int writeShared(const LuSharedBytes& bytes) { return write(bytes.data(), bytes.size()); }
    // As writeShared(source.bytes()), for bytes also lent in pieces for this call only: a socket
    // that queues may write the pieces and make the shared bytes only when it must keep some.
    virtual int writeLent(const LuBytePiece*, size_t, LuSharedBytesSource& source) {
        return writeShared(source.bytes());
    }
    virtual void close() = 0;
    // Drops the connection with a reset; later reads and writes fail.
    virtual void abort() = 0;
    virtual bool isOpen() const = 0;
    virtual void setNoDelay() = 0;
    virtual void setNonBlocking(bool on) = 0;
    virtual bool isNonBlocking() const = 0;
    // The peer's dotted IPv4 address, or empty.
    virtual LuStr getPeerName() const = 0;
    // The local port, 0 when it cannot be determined.
    virtual unsigned short getSockPort() const = 0;
};
