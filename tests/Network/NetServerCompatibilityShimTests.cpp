#include "Network/NetServerCompatibilityShim.h"

#include "Engine/CorvaneStream.h"
#include "Engine/Stream.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

using namespace Corvane3D;

namespace {

using Bytes = std::vector<uint8_t>;

// Stands in for the transport: keeps what the server sent.
class CRecordingSender : public INetSender {
public:
    struct Sent {
        NetPeer peer;
        Bytes bytes;
        ePacketFlags flags;
        uint8_t channel;
    };

    bool SendPacket(NetPeer peer, const Packet& packet, ePacketPriority, ePacketFlags flags, uint8_t channel) override
    {
        sent.push_back({peer, Bytes(packet.GetData(), packet.GetData() + packet.GetSize()), flags, channel});
        return true;
    }
    bool SendEveryonePacket(const Packet& packet, ePacketPriority priority, ePacketFlags flags,
                            uint8_t channel) override
    {
        return SendPacket(NetPeer{}, packet, priority, flags | PACKET_FLAG_EVERYONE, channel);
    }
    void DisconnectPeer(NetPeer peer, uint32_t reason) override { disconnected.emplace_back(peer, reason); }
    bool GetPeerIP(NetPeer, CIPAddress& address) override
    {
        address.SetIPv4(0x0100007F, 1234);
        return true;
    }
    uint32_t GetLastPing(NetPeer) override { return 25; }

    std::vector<Sent> sent;
    std::vector<std::pair<NetPeer, uint32_t>> disconnected;
};

struct Dispatched {
    NetPeer peer;
    uint32_t id;
    Bytes body;
};

// Records each message it is given, reading the body to its end.
class CRecordingHandler : public INetMessageHandler {
public:
    void HandleMessage(NetPeer peer, uint32_t id, Stream& body) override
    {
        Bytes bytes(body.GetRemaining());
        if (!bytes.empty())
            body.Read(bytes.data(), bytes.size());
        seen.push_back({peer, id, bytes});
    }
    std::vector<Dispatched> seen;
};

// Records the shim's calls to the server's hooks.
class CHookedShim : public CNetServerCompatibilityShim {
public:
    using CNetServerCompatibilityShim::CNetServerCompatibilityShim;

    bool OnPlayerConnect(NetPeer peer) override
    {
        connected.push_back(peer);
        return false;
    }
    void OnPlayerDisconnect(NetPeer peer, uint32_t reason) override { disconnected.emplace_back(peer, reason); }

    std::vector<NetPeer> connected;
    std::vector<std::pair<NetPeer, uint32_t>> disconnected;
};

// Hazard: a message shorter than its header, or with another magic, must be dropped without a
// read past its last byte.
TEST(CNetServerCompatibilityShim, ChecksTheHeaderAndDispatchesByMessageId)
{
    CRecordingSender sender;
    CNetServerCompatibilityShim shim(sender);
    CRecordingHandler handler;
    shim.SetMessageHandler(42, &handler);
    shim.SetMessageHandler(7, &handler);

    struct Case {
        const char* what;
        Bytes message;
        std::optional<uint32_t> dispatchedId;
        Bytes body;
    };
    const Case cases[] = {
        {"header and empty body", {0x02, 0x34, 0x52, 0x54, 0x2A, 0, 0, 0}, 42, {}},
        {"header and body", {0x02, 0x34, 0x52, 0x54, 0x07, 0, 0, 0, 0xAA, 0xBB}, 7, {0xAA, 0xBB}},
        {"wrong magic", {0x02, 0x34, 0x52, 0x55, 0x2A, 0, 0, 0}, std::nullopt, {}},
        {"6-byte message", {0x02, 0x34, 0x52, 0x54, 0x2A, 0}, std::nullopt, {}},
        {"7-byte message", {0x02, 0x34, 0x52, 0x54, 0x2A, 0, 0}, std::nullopt, {}},
        {"empty message", {}, std::nullopt, {}},
        {"no header at all", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}, std::nullopt, {}},
        {"id without a handler", {0x02, 0x34, 0x52, 0x54, 0x63, 0, 0, 0, 1}, std::nullopt, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        handler.seen.clear();
        // Heap bytes of exactly the message's size, so any read beyond it is a sanitizer report.
        auto copy = std::make_unique<uint8_t[]>(c.message.size());
        std::copy(c.message.begin(), c.message.end(), copy.get());
        shim.PacketEvent(NetPeer{3}, copy.get(), c.message.size());
        if (!c.dispatchedId) {
            EXPECT_TRUE(handler.seen.empty());
            continue;
        }
        ASSERT_EQ(handler.seen.size(), 1u);
        EXPECT_EQ(handler.seen[0].peer, NetPeer{3});
        EXPECT_EQ(handler.seen[0].id, *c.dispatchedId);
        EXPECT_EQ(handler.seen[0].body, c.body);
    }
    shim.PacketEvent(NetPeer{3}, nullptr, 8);
    EXPECT_TRUE(handler.seen.empty());
    EXPECT_TRUE(sender.sent.empty()) << "the shim never answers a message itself";
    EXPECT_TRUE(sender.disconnected.empty()) << "nor disconnects its sender";
}

TEST(CNetServerCompatibilityShim, HandlerThatReadsPastTheBodyGetsFailedReads)
{
    CRecordingSender sender;
    CNetServerCompatibilityShim shim(sender);
    struct Greedy : INetMessageHandler {
        void HandleMessage(NetPeer, uint32_t, Stream& body) override
        {
            CBinaryReader reader(&body);
            readFirst = reader.ReadUInt16(first);
            readBeyond = reader.ReadUInt32(beyond);
            readString = reader.ReadString(text);
        }
        bool readFirst = false;
        bool readBeyond = true;
        bool readString = true;
        uint16_t first = 0;
        uint32_t beyond = 0;
        std::string text;
    } greedy;
    shim.SetMessageHandler(9, &greedy);

    // The message is followed in memory by bytes that belong to someone else.
    const Bytes buffer{0x02, 0x34, 0x52, 0x54, 9, 0, 0, 0, 0x34, 0x12, /* next message: */ 0x05, 0x41, 0x42, 0x43};
    shim.PacketEvent(NetPeer{1}, buffer.data(), 10);
    EXPECT_TRUE(greedy.readFirst);
    EXPECT_EQ(greedy.first, 0x1234);
    EXPECT_FALSE(greedy.readBeyond);
    EXPECT_EQ(greedy.beyond, 0u);
    EXPECT_FALSE(greedy.readString);
}

TEST(CNetServerCompatibilityShim, RemovedHandlerNoLongerReceivesItsId)
{
    CRecordingSender sender;
    CNetServerCompatibilityShim shim(sender);
    CRecordingHandler handler;
    shim.SetMessageHandler(1, &handler);
    shim.SetMessageHandler(1, nullptr);
    const Packet message(1);
    shim.PacketEvent(NetPeer{1}, message.GetData(), message.GetSize());
    EXPECT_TRUE(handler.seen.empty());
}

TEST(CNetServerCompatibilityShim, ConnectAndDisconnectReachTheServerHooks)
{
    CRecordingSender sender;
    CHookedShim shim(sender);
    shim.OnConnect(NetPeer{4});
    shim.OnDisconnect(NetPeer{4}, 12);
    EXPECT_EQ(shim.connected, std::vector<NetPeer>{NetPeer{4}});
    ASSERT_EQ(shim.disconnected.size(), 1u);
    EXPECT_EQ(shim.disconnected[0], std::make_pair(NetPeer{4}, 12u));
    EXPECT_TRUE(sender.disconnected.empty()) << "a refused connect is the server's to act on, not the shim's";
}

TEST(CNetServerCompatibilityShim, WithAnInjectedSenderEverythingGoesThroughItAndThereIsNoSocket)
{
    CRecordingSender sender;
    CNetServerCompatibilityShim shim(sender);
    EXPECT_EQ(shim.GetTransport(), nullptr);
    EXPECT_FALSE(shim.InitAsServer(0, "127.0.0.1", false));
    shim.UpdateNetwork();

    Packet reply(17);
    CBinaryWriter(&reply).WriteString("mode");
    EXPECT_TRUE(shim.SendPacket(NetPeer{2}, reply, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0));
    EXPECT_TRUE(shim.SendEveryonePacket(Packet(21), PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0));
    shim.DisconnectPeer(NetPeer{2}, 9);
    CIPAddress address;
    EXPECT_TRUE(shim.GetPeerIP(NetPeer{2}, address));
    EXPECT_EQ(address.ToString(), "127.0.0.1");
    EXPECT_EQ(shim.GetLastPing(NetPeer{2}), 25u);

    ASSERT_EQ(sender.sent.size(), 2u);
    EXPECT_EQ(sender.sent[0].peer, NetPeer{2});
    EXPECT_EQ(sender.sent[0].bytes, (Bytes{0x02, 0x34, 0x52, 0x54, 17, 0, 0, 0, 4, 'm', 'o', 'd', 'e'}));
    EXPECT_EQ(sender.sent[1].flags, PACKET_FLAG_RELIABLE | PACKET_FLAG_EVERYONE);
    EXPECT_EQ(sender.disconnected, (std::vector<std::pair<NetPeer, uint32_t>>{{NetPeer{2}, 9u}}));
}

} // namespace
