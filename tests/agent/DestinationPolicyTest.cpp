#include "agent/DestinationPolicy.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t Address(std::uint32_t a, std::uint32_t b, std::uint32_t c,
                                std::uint32_t d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

TEST(DestinationPolicyTest, ListsThatAreNotSetAdmitEverything) {
    const TDestinationPolicy policy(std::nullopt, std::nullopt);
    EXPECT_TRUE(policy.AdmitsCall(Address(10, 0, 0, 5), 443));
    EXPECT_TRUE(policy.AdmitsCall(0, 0));
    EXPECT_TRUE(policy.AdmitsListen(5000));
    EXPECT_TRUE(TDestinationPolicy().AdmitsCall(Address(1, 2, 3, 4), 1));
}

TEST(DestinationPolicyTest, EmptyListsAdmitNothing) {
    for (const char* list : {"", " ", ",, ,"}) {
        const TDestinationPolicy policy(list, list);
        EXPECT_FALSE(policy.AdmitsCall(Address(127, 0, 0, 1), 80)) << '"' << list << '"';
        EXPECT_FALSE(policy.AdmitsListen(5000)) << '"' << list << '"';
        EXPECT_TRUE(policy.BadCallEntries().empty());
    }
}

struct TCallCase {
    const char* list;
    std::uint32_t address;
    std::uint16_t port;
    bool admitted;
};

TEST(DestinationPolicyTest, CallsAreMatchedByAddressNetworkAndPort) {
    const TCallCase cases[] = {
        {"10.0.0.5", Address(10, 0, 0, 5), 443, true},
        {"10.0.0.5", Address(10, 0, 0, 6), 443, false},
        {"10.0.0.5:443", Address(10, 0, 0, 5), 443, true},
        {"10.0.0.5:443", Address(10, 0, 0, 5), 444, false},
        {"10.0.0.0/24", Address(10, 0, 0, 200), 1, true},
        {"10.0.0.0/24", Address(10, 0, 1, 0), 1, false},
        {"10.0.0.0/24:8443", Address(10, 0, 0, 9), 8443, true},
        {"10.0.0.0/24:8443", Address(10, 0, 0, 9), 443, false},
        // Host bits beyond the prefix are not compared.
        {"10.0.0.77/24", Address(10, 0, 0, 1), 80, true},
        {"192.168.0.0/16", Address(192, 168, 255, 255), 80, true},
        {"192.168.0.0/16", Address(192, 169, 0, 0), 80, false},
        {"0.0.0.0/0", Address(203, 0, 113, 9), 80, true},
        {"0.0.0.0/0:443", Address(203, 0, 113, 9), 80, false},
        {"255.255.255.255/32", Address(255, 255, 255, 255), 80, true},
        {"255.255.255.255/32", Address(255, 255, 255, 254), 80, false},
        {"1.2.3.4/31", Address(1, 2, 3, 5), 80, true},
        {"1.2.3.4/31", Address(1, 2, 3, 6), 80, false},
        // Any entry of the list admits; commas, spaces and tabs separate.
        {"10.0.0.5:443, 127.0.0.1:9000", Address(127, 0, 0, 1), 9000, true},
        {"10.0.0.5:443 127.0.0.1:9000", Address(10, 0, 0, 5), 443, true},
        {"10.0.0.5:443,\t127.0.0.1:9000", Address(127, 0, 0, 1), 443, false},
        {"  ,10.0.0.5,,  ", Address(10, 0, 0, 5), 1, true},
        // A bad entry admits nothing, and the good ones beside it still do.
        {"10.0.0.300, 10.0.0.5", Address(10, 0, 0, 5), 1, true},
        {"10.0.0.5:0", Address(10, 0, 0, 5), 0, false},
    };
    for (const TCallCase& test : cases) {
        const TDestinationPolicy policy(test.list, std::nullopt);
        EXPECT_EQ(policy.AdmitsCall(test.address, test.port), test.admitted)
            << test.list << " for " << DottedAddress(test.address) << ":" << test.port;
        EXPECT_TRUE(policy.AdmitsListen(test.port)) << "listens stay open";
    }
}

TEST(DestinationPolicyTest, UnreadableCallEntriesAreLeftOutAndKept) {
    const std::vector<std::string> bad = {
        "10.0.0",       "10.0.0.5.6",  "10.0.0.256",      "10..0.5",       "a.b.c.d",
        "10.0.0.5:",    "10.0.0.5:0",  "10.0.0.5:65536",  "10.0.0.5:44x",  "10.0.0.5:443:80",
        "10.0.0.0/",    "10.0.0.0/33", "10.0.0.0/x",      "10.0.0.0/24/8", "/24",
        ":443",         "010.0.0.5",   "10.0.0.5:0443",   "-1.0.0.5",      "10.0.0.5/-1",
        "host.example", "10.0.0.5;",   "4294967306.0.0.1"};
    std::string list = "127.0.0.1:7";
    for (const std::string& entry : bad) {
        list += ", " + entry;
    }
    const TDestinationPolicy policy(list, std::nullopt);
    EXPECT_EQ(policy.BadCallEntries(), bad);
    EXPECT_TRUE(policy.AdmitsCall(Address(127, 0, 0, 1), 7));
    EXPECT_FALSE(policy.AdmitsCall(Address(10, 0, 0, 5), 443));
}

TEST(DestinationPolicyTest, ListensAreMatchedByPort) {
    const TDestinationPolicy policy(std::nullopt, "5000, 6000\t7000 x 0 65536 65535 08080");
    EXPECT_TRUE(policy.AdmitsListen(5000));
    EXPECT_TRUE(policy.AdmitsListen(6000));
    EXPECT_TRUE(policy.AdmitsListen(7000));
    EXPECT_TRUE(policy.AdmitsListen(65535));
    EXPECT_FALSE(policy.AdmitsListen(5001));
    EXPECT_FALSE(policy.AdmitsListen(0));
    EXPECT_FALSE(policy.AdmitsListen(8080));
    EXPECT_EQ(policy.BadListenEntries(), (std::vector<std::string>{"x", "0", "65536", "08080"}));
    EXPECT_TRUE(policy.AdmitsCall(Address(10, 0, 0, 5), 443)) << "calls stay open";
}

TEST(DestinationPolicyTest, AddressesAreWrittenDotted) {
    EXPECT_EQ(DottedAddress(Address(127, 0, 0, 1)), "127.0.0.1");
    EXPECT_EQ(DottedAddress(0xFFFFFFFF), "255.255.255.255");
    EXPECT_EQ(DottedAddress(0), "0.0.0.0");
}

}  // namespace
