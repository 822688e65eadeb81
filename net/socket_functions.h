#pragma once
// Thin wrappers over the BSD socket calls on IPv4 and IPv6 TCP descriptors. Calls that yield a
// descriptor return it, or -1 with errno set; reads, writes and waits return counts, transient
// conditions giving 0 and failures -1; every other fallible call returns an LuStatus naming the
// call in the words of its diagnostic line. A call whose failure has always been written to
// standard error still writes it, as its comment says.
#include <cstddef>
#include <cstdint>

#include "net/byte_piece.h"
#include "toolkit/status.h"

class LuNetworkAddress;

// Length of the buffer the address-text functions write into (the longest IPv6 text and a NUL).
constexpr size_t LuSocketAddressTextSize = 46;

// socket(AF_INET, SOCK_STREAM) marked close-on-exec; the descriptor or -1.
int LuSocketCreate();
// The same for the address's family. An IPv6 socket also takes IPv4 peers (IPV6_V6ONLY off),
// so that "::" is every address of both families.
int LuSocketCreateFor(const LuNetworkAddress& address);
// Failures of these two are "setsockopt".
LuStatus LuSocketSetReuseAddr(int descriptor, bool on);
LuStatus LuSocketSetNoDelay(int descriptor, bool on);
// Binds to every local IPv4 address; a failure is "bind".
LuStatus LuSocketBind(int descriptor, uint16_t port);
// Binds to one local address (or every one, for 0.0.0.0 and ::); a failure is "bind".
LuStatus LuSocketBindTo(int descriptor, const LuNetworkAddress& address, uint16_t port);
// A failure is "listen".
LuStatus LuSocketListen(int descriptor, int backlog);
// The accepted descriptor or -1.
int LuSocketAccept(int descriptor);
// Accepts only when a connection is waiting, so it never blocks; else -1.
int LuSocketAcceptIfReady(int descriptor);

bool LuSocketIsReadable(int descriptor);

// Waits until one of the descriptors is readable (or has hung up or failed) or the time-out
// passes; negative seconds wait without limit. Works for any descriptor number. Returns how many
// descriptors are ready, 0 on time-out, -1 when a descriptor is not open. readyFlags, when
// given, receives one flag per descriptor. Negative descriptors are skipped. A count of 0
// returns 0 at once.
int LuSocketWaitForInput(const int* descriptors, bool* readyFlags, int count, long seconds,
                         long microseconds);

// Sets or clears O_NONBLOCK keeping the other status flags. A failure ("fcntl F_GETFL" or
// "fcntl F_SETFL") is written to standard error and returned: the caller decides what a
// descriptor whose mode cannot be set is worth (the host is never aborted for it).
LuStatus LuSocketSetNonBlocking(int descriptor, bool on);
// Whether O_NONBLOCK is set; a failure ("fcntl F_GETFL") is written and returned, and leaves
// nonBlocking unchanged.
LuStatus LuSocketIsNonBlocking(int descriptor, bool& nonBlocking);

// One send() without SIGPIPE: the count when > 0; 0 when nothing could be sent now;
// -1 after "send: <reason>" on any other failure.
int LuSocketSend(int descriptor, const void* buffer, size_t length);
// As LuSocketSend, but a failure ("send") is not written, only left in `failure`.
int LuSocketSendQuietly(int descriptor, const void* buffer, size_t length, LuStatus& failure);
// One gathered send (sendmsg()) of the pieces in order, with LuSocketSend's results and its
// failure line; it never waits, even on a blocking descriptor. At most LuSocketMaxPiecesPerSend
// pieces and INT_MAX bytes go in one call.
int LuSocketSendPieces(int descriptor, const LuBytePiece* pieces, size_t count);
int LuSocketSendPiecesQuietly(int descriptor, const LuBytePiece* pieces, size_t count, LuStatus& failure);
constexpr size_t LuSocketMaxPiecesPerSend = 64;
// One recv(): the count when > 0; 0 when nothing has arrived (or length is 0); -1 when the
// peer closed (no message) or after "recv: <reason>" on a failure.
int LuSocketRecv(int descriptor, void* buffer, size_t length);

// SO_RCVTIMEO in seconds. A failure to set it ("SetSocketTimeout: setsockopt") is written and
// returned; a failure to read it ("getsockopt") is returned and leaves seconds unchanged.
LuStatus LuSocketSetTimeout(int descriptor, float seconds);
LuStatus LuSocketGetTimeout(int descriptor, float& seconds);

// The address of the peer (or of the local end) written into buffer, which must hold
// LuSocketAddressTextSize bytes: dotted IPv4 (also for an IPv4 peer of an IPv6 listener) or
// IPv6 text; buffer on success, null on failure.
const char* LuSocketGetPeerName(int descriptor, char* buffer);
const char* LuSocketGetSockName(int descriptor, char* buffer);
// The local port in host byte order; 0 when it cannot be determined.
uint16_t LuSocketGetSockPort(int descriptor);

// Closes with a reset instead of a graceful shutdown (linger on, 0 seconds). The descriptor is
// closed whatever happens; a failure to set the linger ("setsockopt(2)") is written and
// returned, else a failure to close ("close") is returned.
LuStatus LuSocketAbort(int descriptor);
// A failure is "close"; the descriptor is gone either way.
LuStatus LuSocketClose(int descriptor);
