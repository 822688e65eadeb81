#include "net/network_address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

namespace {

LuNetworkAddress address(const std::string& text) {
    LuNetworkAddress parsed;
    EXPECT_TRUE(LuNetworkAddress::parse(text, parsed)) << text;
    return parsed;
}

LuNetworkList list(const std::string& text) {
    LuNetworkList parsed;
    EXPECT_TRUE(LuNetworkList::parse(text, parsed)) << text;
    return parsed;
}

TEST(LuNetworkList, MalformedListsAreRefusedAndLeaveTheOldListInPlace) {
    for (const char* text : {",", "127.0.0.1,", ",127.0.0.1", "127.0.0.1,,10.0.0.1", "127.0.0.1 10.0.0.1",
                             "127.0.0.0/33", "::/129", "127.0.0.1/24", "fd00::1/8", "127.0.0.1/", "127.0.0.1/-1",
                             "127.0.0.1/+8", "127.0.0.1/ 8", "127.0.0.1/0008", "localhost", "127.1",
                             "::ffff:10.0.0.0/95"}) {
        LuNetworkList kept = list("10.0.0.0/8");
        EXPECT_FALSE(LuNetworkList::parse(text, kept)) << text;
        EXPECT_TRUE(kept.contains(address("10.1.2.3"))) << text;
    }
    EXPECT_TRUE(list("").isEmpty());
    EXPECT_TRUE(list("   ").isEmpty());
}

TEST(LuNetworkList, EntriesMatchTheirPrefixInTheirOwnFamily) {
    LuNetworkList networks = list(" 127.0.0.1 , 192.168.10.0/24,fd00::/8 ,0.0.0.0/0");
    EXPECT_TRUE(networks.contains(address("192.168.10.255")));
    EXPECT_TRUE(networks.contains(address("fdff::1")));
    EXPECT_FALSE(networks.contains(address("fe00::1")));
    // 0.0.0.0/0 is every IPv4 address and no IPv6 one.
    EXPECT_TRUE(networks.contains(address("8.8.8.8")));
    EXPECT_FALSE(networks.contains(address("::1")));
    EXPECT_FALSE(networks.contains(LuNetworkAddress()));

    LuNetworkList one = list("127.0.0.1");
    EXPECT_TRUE(one.contains(address("127.0.0.1")));
    EXPECT_FALSE(one.contains(address("127.0.0.2")));
    EXPECT_FALSE(list("192.168.10.0/25").contains(address("192.168.10.128")));
}

TEST(LuNetworkAddress, MappedIpv4PeersAndEntriesCountAsIpv4) {
    sockaddr_in6 peer{};
    peer.sin6_family = AF_INET6;
    ASSERT_EQ(inet_pton(AF_INET6, "::ffff:127.0.0.2", &peer.sin6_addr), 1);
    LuNetworkAddress client = LuNetworkAddress::fromSocketAddress(reinterpret_cast<sockaddr*>(&peer), sizeof peer);
    EXPECT_EQ(client.family(), LuNetworkAddress::Family::ipv4);
    EXPECT_EQ(client.text(), "127.0.0.2");
    EXPECT_TRUE(list("127.0.0.0/8").contains(client));
    EXPECT_TRUE(list("::ffff:127.0.0.0/104").contains(client));
    EXPECT_FALSE(list("::ffff:127.0.0.1").contains(client));
    EXPECT_EQ(address("::1").text(), "::1");
    EXPECT_EQ(LuNetworkAddress().text(), "unknown");
}

}  // namespace
