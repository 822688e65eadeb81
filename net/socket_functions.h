#pragma once
// Thin wrappers over the BSD socket calls on IPv4 and IPv6 TCP descriptors, with the library's
// error conventions: transient conditions give 0, failures give -1 and one diagnostic line.
#include <cstddef>
#include <cstdint>

#include "net/byte_piece.h"

class LuNetworkAddress;

// Length of the buffer the address-text functions write into (the longest IPv6 text and a NUL).
constexpr size_t LuSocketAddressTextSize = 46;

// socket(AF_INET, SOCK_STREAM) marked close-on-exec; the descriptor or -1.
int LuSocketCreate();
// The same for the address's family. An IPv6 socket also takes IPv4 peers (IPV6_V6ONLY off),
// so that "::" is every address of both families.
int LuSocketCreateFor(const LuNetworkAddress& address);
void LuSocketSetReuseAddr(int descriptor, bool on);
// setsockopt()'s result.
int LuSocketSetNoDelay(int descriptor, bool on);
// Binds to every local IPv4 address; the descriptor or -1.
int LuSocketBind(int descriptor, uint16_t port);
// Binds to one local address (or every one, for 0.0.0.0 and ::); the descriptor or -1.
int LuSocketBindTo(int descriptor, const LuNetworkAddress& address, uint16_t port);
// 0 or -1.
int LuSocketListen(int descriptor, int backlog);
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

// Sets or clears O_NONBLOCK keeping the other status flags. A failure is written as
// "fcntl F_GETFL: ..." or "fcntl F_SETFL: ..." and returned as false: the caller decides
// what a descriptor whose mode cannot be set is worth (the host is never aborted for it).
bool LuSocketSetNonBlocking(int descriptor, bool on);
// 1 when O_NONBLOCK is set, 0 when not, -1 (after "fcntl F_GETFL: ...") when F_GETFL fails.
int LuSocketIsNonBlocking(int descriptor);

// One send() without SIGPIPE: the count when > 0; 0 when nothing could be sent now;
// -1 after "send: <reason>" on any other failure.
int LuSocketSend(int descriptor, const void* buffer, size_t length);
// As LuSocketSend, but a failure is not reported: the reason is left in *error.
int LuSocketSendQuietly(int descriptor, const void* buffer, size_t length, int* error);
// One gathered send (sendmsg()) of the pieces in order, with LuSocketSend's results and its
// failure line; it never waits, even on a blocking descriptor. At most LuSocketMaxPiecesPerSend
// pieces and INT_MAX bytes go in one call.
int LuSocketSendPieces(int descriptor, const LuBytePiece* pieces, size_t count);
int LuSocketSendPiecesQuietly(int descriptor, const LuBytePiece* pieces, size_t count, int* error);
constexpr size_t LuSocketMaxPiecesPerSend = 64;
// One recv(): the count when > 0; 0 when nothing has arrived (or length is 0); -1 when the
// peer closed (no message) or after "recv: <reason>" on a failure.
int LuSocketRecv(int descriptor, void* buffer, size_t length);

// SO_RCVTIMEO in seconds.
void LuSocketSetTimeout(int descriptor, float seconds);
float LuSocketGetTimeout(int descriptor);

// The address of the peer (or of the local end) written into buffer, which must hold
// LuSocketAddressTextSize bytes: dotted IPv4 (also for an IPv4 peer of an IPv6 listener) or
// IPv6 text; buffer on success, null on failure.
const char* LuSocketGetPeerName(int descriptor, char* buffer);
const char* LuSocketGetSockName(int descriptor, char* buffer);
// The local port in host byte order; 0 when it cannot be determined.
uint16_t LuSocketGetSockPort(int descriptor);

// Closes with a reset instead of a graceful shutdown (linger on, 0 seconds).
void LuSocketAbort(int descriptor);
int LuSocketClose(int descriptor);
