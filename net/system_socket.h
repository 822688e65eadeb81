#pragma once
// The operating system's socket of one accepted connection. Reads and writes never block once
// the socket is non-blocking; a dropped peer reads as -1 without any message.
//
// A descriptor whose mode cannot be read or set (fcntl failing) is not trusted for I/O: the
// socket then counts as unusable (modeFailed()), reports input, and fails every read and write
// with -1, so the session that owns it ends on its next read like any closed connection, while
// the host carries on. Its descriptor is still closed by close().
#include "net/socket_interface.h"

class RySystemSocket : public RySocketInterface {
public:
    explicit RySystemSocket(int descriptor);
    // Never closes the descriptor: the owner calls close() first; an open one is reported.
    ~RySystemSocket() override;
    RySystemSocket(const RySystemSocket&) = delete;
    RySystemSocket& operator=(const RySystemSocket&) = delete;

    bool hasInput() override;
    int read(void* buffer, size_t length) override;
    int write(const void* buffer, size_t length) override;
    // One sendmsg() over the pieces, with write()'s results and failure reports.
    int writeGathered(const LuBytePiece* pieces, size_t count) override;
    void close() override;
    void abort() override;
    bool isOpen() const override { return descriptor_ >= 0; }
    void setNoDelay() override;
    void setNonBlocking(bool on) override;
    bool isNonBlocking() const override { return nonBlocking_; }
    LuStr getPeerName() const override;
    unsigned short getSockPort() const override;

    int descriptor() const { return descriptor_; }
    bool writeFailed() const { return writeFailed_; }
    bool readFailed() const { return readFailed_; }
    bool isAborted() const { return aborted_; }
    bool modeFailed() const { return modeFailed_; }
    // Reports a failed send with this line instead of "send: <reason>"; null restores that.
    void setSendFailureNotice(const char* text) { sendFailureNotice_ = text; }

private:
    // The send behind write() and writeGathered(): `quiet` sends and leaves the reason in its
    // argument, `loud` sends and reports the reason itself.
    template <typename Quiet, typename Loud>
    int sendWith(Quiet quiet, Loud loud);
    bool unusable() const { return aborted_ || modeFailed_; }

    int descriptor_;
    bool writeFailed_ = false;
    bool readFailed_ = false;
    bool aborted_ = false;
    bool nonBlocking_ = false;
    bool modeFailed_ = false;
    const char* sendFailureNotice_ = nullptr;
};
