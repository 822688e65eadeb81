#include "net/network_address.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <cstring>

namespace {

// The first twelve bytes of an IPv4 address as IPv6 writes it (::ffff:a.b.c.d).
constexpr uint8_t mappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
constexpr int mappedPrefixBits = 96;

bool isMapped(const uint8_t* bytes) { return std::memcmp(bytes, mappedPrefix, sizeof mappedPrefix) == 0; }

std::string trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::string();
    size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

// Decimal digits only, without sign or spaces, and small enough to be a prefix length.
bool parsePrefixLength(const std::string& text, int& out) {
    if (text.empty() || text.size() > 3) return false;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    out = value;
    return true;
}

}  // namespace

// ---- addresses

bool LuNetworkAddress::parse(const std::string& text, LuNetworkAddress& out) {
    // inet_pton takes only numeric forms: no name is ever looked up, no shorthand like "127.1".
    LuNetworkAddress parsed;
    if (::inet_pton(AF_INET, text.c_str(), parsed.bytes_.data()) == 1) {
        parsed.family_ = Family::ipv4;
    } else if (::inet_pton(AF_INET6, text.c_str(), parsed.bytes_.data()) == 1) {
        parsed.family_ = Family::ipv6;
    } else {
        return false;
    }
    out = parsed;
    return true;
}

LuNetworkAddress LuNetworkAddress::fromSocketAddress(const sockaddr* address, socklen_t length) {
    LuNetworkAddress result;
    if (address == nullptr) return result;
    if (address->sa_family == AF_INET && length >= socklen_t(sizeof(sockaddr_in))) {
        sockaddr_in ipv4;
        std::memcpy(&ipv4, address, sizeof ipv4);
        std::memcpy(result.bytes_.data(), &ipv4.sin_addr, 4);
        result.family_ = Family::ipv4;
    } else if (address->sa_family == AF_INET6 && length >= socklen_t(sizeof(sockaddr_in6))) {
        sockaddr_in6 ipv6;
        std::memcpy(&ipv6, address, sizeof ipv6);
        const uint8_t* bytes = ipv6.sin6_addr.s6_addr;
        if (isMapped(bytes)) {
            std::memcpy(result.bytes_.data(), bytes + sizeof mappedPrefix, 4);
            result.family_ = Family::ipv4;
        } else {
            std::memcpy(result.bytes_.data(), bytes, 16);
            result.family_ = Family::ipv6;
        }
    }
    return result;
}

LuNetworkAddress LuNetworkAddress::peerOf(int descriptor) {
    sockaddr_storage address;
    std::memset(&address, 0, sizeof address);
    socklen_t length = sizeof address;
    if (::getpeername(descriptor, reinterpret_cast<sockaddr*>(&address), &length) != 0) return LuNetworkAddress();
    return fromSocketAddress(reinterpret_cast<const sockaddr*>(&address), length);
}

int LuNetworkAddress::bitCount() const {
    switch (family_) {
        case Family::ipv4: return 32;
        case Family::ipv6: return 128;
        case Family::none: break;
    }
    return 0;
}

bool LuNetworkAddress::bit(int index) const {
    return (bytes_[size_t(index / 8)] >> (7 - index % 8)) & 1;
}

std::string LuNetworkAddress::text() const {
    char buffer[INET6_ADDRSTRLEN] = {};
    int family = family_ == Family::ipv4 ? AF_INET : AF_INET6;
    if (!isValid() || ::inet_ntop(family, bytes_.data(), buffer, sizeof buffer) == nullptr) return "unknown";
    return buffer;
}

socklen_t LuNetworkAddress::toSocketAddress(uint16_t port, sockaddr_storage& out) const {
    std::memset(&out, 0, sizeof out);
    if (family_ == Family::ipv4) {
        sockaddr_in ipv4;
        std::memset(&ipv4, 0, sizeof ipv4);
        ipv4.sin_family = AF_INET;
        ipv4.sin_port = htons(port);
        std::memcpy(&ipv4.sin_addr, bytes_.data(), 4);
        std::memcpy(&out, &ipv4, sizeof ipv4);
        return sizeof ipv4;
    }
    sockaddr_in6 ipv6;
    std::memset(&ipv6, 0, sizeof ipv6);
    ipv6.sin6_family = AF_INET6;
    ipv6.sin6_port = htons(port);
    std::memcpy(ipv6.sin6_addr.s6_addr, bytes_.data(), 16);
    std::memcpy(&out, &ipv6, sizeof ipv6);
    return sizeof ipv6;
}

// ---- networks

bool LuNetwork::parse(const std::string& text, LuNetwork& out) {
    size_t slash = text.find('/');
    LuNetwork network;
    if (!LuNetworkAddress::parse(text.substr(0, slash), network.address)) return false;
    network.prefixLength = network.address.bitCount();
    if (slash != std::string::npos && !parsePrefixLength(text.substr(slash + 1), network.prefixLength)) return false;
    if (network.prefixLength > network.address.bitCount()) return false;
    for (int i = network.prefixLength; i < network.address.bitCount(); ++i)
        if (network.address.bit(i)) return false;
    // Clients in mapped form are matched as IPv4, so a mapped entry is one too.
    sockaddr_storage socketAddress;
    socklen_t length = network.address.toSocketAddress(0, socketAddress);
    LuNetworkAddress plain = LuNetworkAddress::fromSocketAddress(reinterpret_cast<sockaddr*>(&socketAddress), length);
    if (plain.family() != network.address.family()) {
        if (network.prefixLength < mappedPrefixBits) return false;
        network.prefixLength -= mappedPrefixBits;
        network.address = plain;
    }
    out = network;
    return true;
}

bool LuNetwork::contains(const LuNetworkAddress& client) const {
    if (client.family() != address.family()) return false;
    for (int i = 0; i < prefixLength; ++i)
        if (client.bit(i) != address.bit(i)) return false;
    return true;
}

// ---- lists

bool LuNetworkList::parse(const std::string& text, LuNetworkList& out) {
    LuNetworkList list;
    if (trimmed(text).empty()) {
        out = list;
        return true;
    }
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        std::string entry = trimmed(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        LuNetwork network;
        if (entry.empty() || !LuNetwork::parse(entry, network)) return false;
        list.networks_.push_back(network);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    out = list;
    return true;
}

bool LuNetworkList::contains(const LuNetworkAddress& client) const {
    for (const LuNetwork& network : networks_)
        if (network.contains(client)) return true;
    return false;
}
