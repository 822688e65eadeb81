#pragma once
// Numeric IPv4 and IPv6 addresses and the networks of an access list ("10.0.0.0/8",
// "fd00::/8"). Nothing here looks a name up: a text that is not a numeric address is refused.
// An IPv4 client reaching an IPv6 listener arrives as ::ffff:a.b.c.d; it is taken as the IPv4
// address it is, so that IPv4 entries match it and it is named in IPv4 form.
#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

class LuNetworkAddress {
public:
    enum class Family { none, ipv4, ipv6 };

    // No address (what a failed lookup of a peer gives).
    LuNetworkAddress() = default;

    // A numeric address with nothing around it; false leaves `out` unchanged.
    static bool parse(const std::string& text, LuNetworkAddress& out);
    // The address of a socket address of either family (a mapped IPv4 one as IPv4); none for
    // any other family.
    static LuNetworkAddress fromSocketAddress(const sockaddr* address, socklen_t length);
    // The peer of a connected descriptor; none when it cannot be determined.
    static LuNetworkAddress peerOf(int descriptor);

    Family family() const { return family_; }
    bool isValid() const { return family_ != Family::none; }
    // 32 for IPv4, 128 for IPv6, 0 for none.
    int bitCount() const;
    // Bit i counted from the most significant bit of the first byte.
    bool bit(int index) const;
    // "192.168.1.4", "fe80::1"; "unknown" for none.
    std::string text() const;
    // The socket address of this address and port, for bind().
    socklen_t toSocketAddress(uint16_t port, sockaddr_storage& out) const;

private:
    Family family_ = Family::none;
    std::array<uint8_t, 16> bytes_{};  // IPv4 in the first four
};

// One entry of an access list: an address and how many of its leading bits must match.
struct LuNetwork {
    LuNetworkAddress address;
    int prefixLength = 0;

    // "a.b.c.d", "a.b.c.d/n", "x::y", "x::y/n"; false unless the prefix fits the address and
    // the address has no bit set beyond it.
    static bool parse(const std::string& text, LuNetwork& out);
    bool contains(const LuNetworkAddress& client) const;
};

// A comma-separated list of networks; the empty list is "no restriction" to its users.
class LuNetworkList {
public:
    // Entries separated by commas, spaces around each allowed. A text of nothing but spaces is
    // the empty list. False, with `out` unchanged, when any entry is empty or malformed.
    static bool parse(const std::string& text, LuNetworkList& out);

    bool isEmpty() const { return networks_.empty(); }
    // Whether any entry contains the address; an address of one family never matches an entry
    // of the other.
    bool contains(const LuNetworkAddress& client) const;

private:
    std::vector<LuNetwork> networks_;
};
