#include "Network/IPAddress.h"
#include "Network/Packet.h"

#include "Engine/CorvaneStream.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <vector>

using namespace Corvane3D;

namespace {

std::vector<uint8_t> BytesOf(const Packet& packet)
{
    return std::vector<uint8_t>(packet.GetData(), packet.GetData() + packet.GetSize());
}

TEST(Packet, MessageStartsWithTheMagicAndItsIdLittleEndian)
{
    EXPECT_EQ(BytesOf(Packet(5)), (std::vector<uint8_t>{0x02, 0x34, 0x52, 0x54, 0x05, 0x00, 0x00, 0x00}));
    EXPECT_EQ(BytesOf(Packet(0x01020304)),
              (std::vector<uint8_t>{0x02, 0x34, 0x52, 0x54, 0x04, 0x03, 0x02, 0x01}));
    EXPECT_EQ(Packet().GetSize(), 0u);
}

TEST(Packet, WhatIsSentIsEverythingUpToTheLengthWhereverThePositionIs)
{
    Strong<Packet> packet = MakeStrong<Packet>(42);
    CBinaryWriter writer(packet);
    ASSERT_TRUE(writer.WriteUInt16(0xBEEF));
    ASSERT_TRUE(writer.WriteString("hi"));
    ASSERT_TRUE(packet->Seek(2, SEEK_ORIGIN_BEGIN));
    EXPECT_EQ(BytesOf(*packet),
              (std::vector<uint8_t>{0x02, 0x34, 0x52, 0x54, 42, 0, 0, 0, 0xEF, 0xBE, 0x02, 'h', 'i'}));
}

TEST(CIPAddress, TextIsNumericCutToTheBufferAndRefusedWhenThereIsNoAddress)
{
    CIPAddress v4;
    v4.SetIPv4(htonl(0x7F000001), 7777);
    CIPAddress v6;
    in6_addr loopback6 = IN6ADDR_LOOPBACK_INIT;
    v6.SetIPv6(loopback6, 7777);
    const CIPAddress empty;

    struct Case {
        const char* what;
        const CIPAddress& address;
        size_t bufferSize;
        bool withPort;
        bool succeeds;
        const char* text;
    };
    const Case cases[] = {
        {"IPv4", v4, 64, false, true, "127.0.0.1"},
        {"IPv4 with port", v4, 64, true, true, "127.0.0.1:7777"},
        {"IPv6 with port", v6, 64, true, true, "[::1]:7777"},
        {"cut to the buffer", v4, 5, false, true, "127."},
        {"one-byte buffer", v4, 1, false, true, ""},
        {"no buffer", v4, 0, false, false, nullptr},
        {"cleared address", empty, 64, false, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        char buffer[64] = "untouched";
        EXPECT_EQ(c.address.ToString(buffer, c.bufferSize, c.withPort), c.succeeds);
        if (c.text) {
            EXPECT_STREQ(buffer, c.text);
        }
    }
    EXPECT_EQ(v4.GetIPVersion(), 4);
    EXPECT_EQ(v6.GetIPVersion(), 6);
    EXPECT_TRUE(v6.IsIPv6());
    EXPECT_EQ(empty.GetIPVersion(), 0);
}

} // namespace
