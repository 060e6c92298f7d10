#include "NetworkTestSupport.h"

#include "Network/ENetServer.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <numeric>

using namespace NetTest;
using namespace std::chrono_literals;

namespace {

struct ConnectedPair {
    ENetPeer* clientPeer = nullptr;
    NetPeer serverPeer;
};

// Connects one more client peer and waits until the server has reported it.
ConnectedPair ConnectOne(CENetServer& server, CRecordingSink& sink, CLoopbackClient& client, uint32_t data = 0)
{
    ConnectedPair pair;
    const size_t before = sink.connects.size();
    pair.clientPeer = client.Connect(server.GetPort(), data);
    const bool connected = PumpUntil(server, client, [&] {
        return sink.connects.size() > before && client.IsConnected(pair.clientPeer);
    });
    EXPECT_TRUE(connected) << "the server never reported the connection";
    if (connected)
        pair.serverPeer = sink.connects.back();
    return pair;
}

Bytes Pattern(size_t length, uint8_t seed)
{
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i)
        bytes[i] = uint8_t(seed + i * 7);
    return bytes;
}

class TransportModes : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { ASSERT_TRUE(server.Initialise(0, "127.0.0.1", GetParam())); }

    CRecordingSink sink;
    CENetServer server{&sink};
    CLoopbackClient client{2};
};

INSTANTIATE_TEST_SUITE_P(Servicing, TransportModes, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "NetworkThread" : "MainLoop";
                         });

TEST_P(TransportModes, MessagesRoundTripOnEveryChannelAndSendMode)
{
    const ConnectedPair pair = ConnectOne(server, sink, client);
    ASSERT_TRUE(pair.serverPeer);

    CIPAddress address;
    ASSERT_TRUE(server.GetIPAddress(pair.serverPeer, address));
    EXPECT_EQ(address.ToString(), "127.0.0.1");
    ENetAddress local{};
    ASSERT_EQ(enet_socket_get_address(client.host->socket, &local), 0);
    EXPECT_EQ(address.GetPort(), local.port);
    EXPECT_NE(server.GetLastPing(pair.serverPeer), 0xFFFFFFFFu);

    struct Case {
        uint8_t channel;
        ePacketFlags flags;
        size_t length;
    };
    const Case cases[] = {
        {0, PACKET_FLAG_RELIABLE, 8},
        {1, PACKET_FLAG_NONE, 40},
        {2, PACKET_FLAG_UNSEQUENCED, 16},
        {7, PACKET_FLAG_RELIABLE | PACKET_FLAG_UNSEQUENCED, 100},
        // Larger than one datagram: fragmented and reassembled by ENet.
        {1, PACKET_FLAG_RELIABLE, 5000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "channel " << int(c.channel) << " flags " << c.flags);
        const Bytes up = Pattern(c.length, c.channel);
        const size_t before = sink.messages.size();
        ASSERT_TRUE(client.Send(pair.clientPeer, up, c.channel));
        ASSERT_TRUE(PumpUntil(server, client, [&] { return sink.messages.size() > before; }));
        EXPECT_EQ(sink.messages.back().peer, pair.serverPeer);
        EXPECT_EQ(sink.messages.back().bytes, up);

        const Bytes down = Pattern(c.length, uint8_t(c.channel + 100));
        client.received.clear();
        ASSERT_TRUE(server.SendPacket(pair.serverPeer, *MakePacket(down), PACKET_PRIORITY_LOW, c.flags, c.channel));
        ASSERT_TRUE(PumpUntil(server, client, [&] { return !client.received.empty(); }));
        EXPECT_EQ(client.received[0].channel, c.channel);
        EXPECT_EQ(client.received[0].bytes, down);
    }
}

TEST_P(TransportModes, SendToEveryoneReachesEveryConnectedPeer)
{
    const ConnectedPair first = ConnectOne(server, sink, client);
    const ConnectedPair second = ConnectOne(server, sink, client);
    ASSERT_TRUE(first.serverPeer && second.serverPeer);

    const Bytes news{1, 2, 3};
    ASSERT_TRUE(server.SendEveryonePacket(*MakePacket(news), PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0));
    ASSERT_TRUE(PumpUntil(server, client, [&] { return client.received.size() >= 2; }));
    PumpFor(server, client, 50);
    ASSERT_EQ(client.received.size(), 2u);
    EXPECT_NE(client.received[0].peer, client.received[1].peer);
    EXPECT_EQ(client.received[0].bytes, news);
    EXPECT_EQ(client.received[1].bytes, news);
}

TEST_P(TransportModes, DisconnectReasonsReachTheOtherSide)
{
    const ConnectedPair leaving = ConnectOne(server, sink, client);
    const ConnectedPair kicked = ConnectOne(server, sink, client);
    ASSERT_TRUE(leaving.serverPeer && kicked.serverPeer);

    enet_peer_disconnect(leaving.clientPeer, 12345);
    ASSERT_TRUE(PumpUntil(server, client, [&] { return !sink.disconnects.empty(); }));
    EXPECT_EQ(sink.disconnects[0], std::make_pair(leaving.serverPeer, 12345u));

    server.Disconnect(kicked.serverPeer, 13);
    ASSERT_TRUE(PumpUntil(server, client, [&] { return client.disconnects.size() >= 2; }));
    EXPECT_EQ(client.disconnects.back(), std::make_pair(kicked.clientPeer, 13u));
    ASSERT_TRUE(PumpUntil(server, client, [&] { return sink.disconnects.size() == 2; }));
    EXPECT_EQ(sink.disconnects[1].first, kicked.serverPeer);
    EXPECT_EQ(server.GetPeerCount(), 0u);
}

// Hazard: ENet reuses peer slots, so a handle kept for a departed client must not reach the next
// client in that slot (messages, kicks and pings meant for the old one).
TEST_P(TransportModes, HandleOfADepartedPeerReachesNoOneWhenItsSlotIsReused)
{
    const ConnectedPair old = ConnectOne(server, sink, client);
    ASSERT_TRUE(old.serverPeer);
    enet_peer_disconnect(old.clientPeer, 1);
    ASSERT_TRUE(PumpUntil(server, client, [&] { return sink.disconnects.size() == 1; }));

    const ConnectedPair fresh = ConnectOne(server, sink, client);
    ASSERT_TRUE(fresh.serverPeer);
    EXPECT_NE(fresh.serverPeer, old.serverPeer);

    EXPECT_TRUE(server.SendPacket(old.serverPeer, *MakePacket({0xDE, 0xAD}), PACKET_PRIORITY_LOW,
                                  PACKET_FLAG_RELIABLE, 0));
    server.Disconnect(old.serverPeer, 13);
    EXPECT_EQ(server.GetLastPing(old.serverPeer), 0xFFFFFFFFu);
    CIPAddress address;
    EXPECT_FALSE(server.GetIPAddress(old.serverPeer, address));

    // Reliable and on one channel, so a stale packet would arrive before this one.
    const Bytes marker{0x4D};
    ASSERT_TRUE(server.SendPacket(fresh.serverPeer, *MakePacket(marker), PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0));
    ASSERT_TRUE(PumpUntil(server, client, [&] { return !client.received.empty(); }));
    PumpFor(server, client, 100);
    ASSERT_EQ(client.received.size(), 1u);
    EXPECT_EQ(client.received[0].bytes, marker);
    EXPECT_TRUE(client.IsConnected(fresh.clientPeer));
    EXPECT_EQ(sink.disconnects.size(), 1u);
}

TEST(ENetServer, CompressionPacksWhatTheServerSendsAndTheServerUnpacksWhatClientsPacked)
{
    for (const bool compress : {true, false}) {
        SCOPED_TRACE(compress ? "server compression on" : "server compression off");
        CRecordingSink sink;
        CENetServer server(&sink);
        ASSERT_TRUE(server.Initialise(0, "127.0.0.1", false));
        server.SetCompression(compress);
        CLoopbackClient client;
        const ConnectedPair pair = ConnectOne(server, sink, client);
        ASSERT_TRUE(pair.serverPeer);

        const Bytes payload(4000, 'a');
        const enet_uint32 sentBefore = client.host->totalSentData;
        ASSERT_TRUE(client.Send(pair.clientPeer, payload));
        ASSERT_TRUE(PumpUntil(server, client, [&] { return !sink.messages.empty(); }));
        EXPECT_EQ(sink.messages[0].bytes, payload);
        EXPECT_LT(client.host->totalSentData - sentBefore, payload.size() / 4) << "the client did not compress";

        const enet_uint32 receivedBefore = client.host->totalReceivedData;
        ASSERT_TRUE(server.SendPacket(pair.serverPeer, *MakePacket(payload), PACKET_PRIORITY_LOW,
                                      PACKET_FLAG_RELIABLE, 0));
        ASSERT_TRUE(PumpUntil(server, client, [&] { return !client.received.empty(); }));
        EXPECT_EQ(client.received[0].bytes, payload);
        const enet_uint32 wireBytes = client.host->totalReceivedData - receivedBefore;
        if (compress)
            EXPECT_LT(wireBytes, payload.size() / 4);
        else
            EXPECT_GE(wireBytes, payload.size());
    }
}

TEST(ENetServer, OnlyDatagramsBeginningFFFFAreOfferedToTheSinkAndTheRestGoToENet)
{
    CRecordingSink sink;
    CENetServer server(&sink);
    ASSERT_TRUE(server.Initialise(0, "127.0.0.1", false));
    CLoopbackClient client;

    const int udp = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(udp, 0);
    timeval wait{0, 200 * 1000};
    setsockopt(udp, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(server.GetPort());

    struct Case {
        const char* what;
        Bytes datagram;
        bool accept;
        bool offered;
    };
    const Case cases[] = {
        {"query request", {0xFF, 0xFF, 'Q', 'G', 'P', 0, 1, 0}, true, true},
        {"two bytes FF FF", {0xFF, 0xFF}, true, true},
        {"declined by the sink, then left to ENet", {0xFF, 0xFF, 0x00, 0x01}, false, true},
        {"one byte FF", {0xFF}, true, false},
        {"FF FE", {0xFF, 0xFE, 0x00, 0x00}, true, false},
        {"FE FF", {0xFE, 0xFF, 0x00, 0x00}, true, false},
        {"ENet-like garbage", {0x8F, 0xFF, 0x12, 0x34, 0x56, 0x78, 0x9A}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sink.acceptDatagrams = c.accept;
        const size_t before = sink.DatagramCount();
        ASSERT_EQ(sendto(udp, c.datagram.data(), c.datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to),
                  ssize_t(c.datagram.size()));
        if (c.offered) {
            ASSERT_TRUE(PumpUntil(server, client, [&] { return sink.DatagramCount() > before; }));
            std::lock_guard<std::mutex> guard(sink.datagramLock);
            EXPECT_EQ(sink.datagrams.back(), c.datagram);
        } else {
            PumpFor(server, client, 50);
            EXPECT_EQ(sink.DatagramCount(), before);
        }
        uint8_t reply[64];
        const ssize_t got = recv(udp, reply, sizeof reply, 0);
        if (c.offered && c.accept)
            EXPECT_EQ(Bytes(reply, reply + std::max<ssize_t>(got, 0)), sink.datagramReply);
        else
            EXPECT_LT(got, 0) << "nothing answers a datagram that the sink did not take";
    }
    close(udp);

    // ENet digested what it was given and still serves clients.
    const ConnectedPair pair = ConnectOne(server, sink, client);
    ASSERT_TRUE(pair.serverPeer);
    ASSERT_TRUE(client.Send(pair.clientPeer, {9}));
    EXPECT_TRUE(PumpUntil(server, client, [&] { return !sink.messages.empty(); }));
}

TEST(ENetServer, NetworkThreadRunsOnlyWhilePeersAreConnectedAndOnlyWhenMultithreaded)
{
    for (const bool multithreaded : {true, false}) {
        SCOPED_TRACE(multithreaded ? "multithreaded" : "single-threaded");
        CRecordingSink sink;
        CENetServer server(&sink);
        ASSERT_TRUE(server.Initialise(0, "127.0.0.1", multithreaded));
        CLoopbackClient client;
        const int expected = multithreaded ? 1 : 0;
        EXPECT_EQ(CountThreadsNamed("NetworkThread"), 0);

        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(round == 0 ? "first connect" : "reconnect");
            const ConnectedPair pair = ConnectOne(server, sink, client);
            ASSERT_TRUE(pair.serverPeer);
            EXPECT_EQ(server.IsNetworkThreadRunning(), multithreaded);
            EXPECT_EQ(CountThreadsNamed("NetworkThread"), expected);

            enet_peer_disconnect(pair.clientPeer, 0);
            ASSERT_TRUE(PumpUntil(server, client, [&] {
                return server.GetPeerCount() == 0 && client.disconnects.size() == size_t(round + 1);
            }));
            EXPECT_FALSE(server.IsNetworkThreadRunning());
            EXPECT_EQ(CountThreadsNamed("NetworkThread"), 0);
        }
    }
}

TEST(ENetServer, PacketSentWhileTheNetworkThreadRunsLeavesWithoutWaitingForUpdate)
{
    CRecordingSink sink;
    CENetServer server(&sink);
    ASSERT_TRUE(server.Initialise(0, "127.0.0.1", true));
    CLoopbackClient client;
    const ConnectedPair pair = ConnectOne(server, sink, client);
    ASSERT_TRUE(server.IsNetworkThreadRunning());

    ASSERT_TRUE(server.SendPacket(pair.serverPeer, *MakePacket({7}), PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0));
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (client.received.empty() && std::chrono::steady_clock::now() < deadline) {
        client.Service();
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(client.received.size(), 1u);
}

// Hazard: a connect (which starts the network thread) and a disconnect (which joins it) handled in
// one servicing pass while the host lock is held would wait for a thread that waits for that lock.
TEST(ENetServer, PeerThatConnectsAndLeavesWithinOnePassDoesNotDeadlock)
{
    CRecordingSink sink;
    CENetServer server(&sink);
    ASSERT_TRUE(server.Initialise(0, "127.0.0.1", true));
    CLoopbackClient client;
    CWatchdog watchdog(20s, "connect and disconnect in one pass");

    ENetPeer* peer = client.Connect(server.GetPort());
    // Step both sides by hand so that the client's acknowledgement and its disconnect reach the
    // server before it services again.
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (!client.IsConnected(peer) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(2ms);
        server.Update();
        std::this_thread::sleep_for(2ms);
        client.Service();
    }
    ASSERT_TRUE(client.IsConnected(peer));
    ASSERT_TRUE(sink.connects.empty());
    enet_peer_disconnect(peer, 77);
    enet_host_flush(client.host);
    std::this_thread::sleep_for(20ms);

    server.Update();
    ASSERT_EQ(sink.connects.size(), 1u);
    ASSERT_EQ(sink.disconnects.size(), 1u);
    EXPECT_EQ(sink.disconnects[0], std::make_pair(sink.connects[0], 77u));
    EXPECT_EQ(server.GetPeerCount(), 0u);
    EXPECT_FALSE(server.IsNetworkThreadRunning());
}

TEST(ENetServer, StormOfRapidConnectsAndDisconnectsLeavesNoPeersNoThreadAndAWorkingServer)
{
    CRecordingSink sink;
    CENetServer server(&sink);
    ASSERT_TRUE(server.Initialise(0, "127.0.0.1", true));
    const uint16_t port = server.GetPort();
    constexpr int StormSize = 200;
    CWatchdog watchdog(120s, "the connect storm");

    // The storm runs on its own thread, like real clients; this thread is the server's main loop.
    std::atomic<bool> stormDone{false};
    std::atomic<int> stormConnects{0};
    std::thread storm([&] {
        CLoopbackClient client(16);
        int started = 0;
        int finished = 0;
        const auto deadline = std::chrono::steady_clock::now() + 60s;
        while (finished < StormSize && std::chrono::steady_clock::now() < deadline) {
            while (started < StormSize && started - finished < 8) {
                if (!client.Connect(port, uint32_t(started)))
                    break;
                ++started;
            }
            ENetEvent event;
            while (enet_host_service(client.host, &event, 1) > 0) {
                if (event.type == ENET_EVENT_TYPE_CONNECT) {
                    ++stormConnects;
                    // The acknowledgement goes out first (a disconnect drops it), so the server
                    // sees the connect and the disconnect close together.
                    enet_host_flush(client.host);
                    // Leave at once: half gracefully, half without waiting for an answer.
                    if (event.peer->connectID % 2 == 0) {
                        enet_peer_disconnect(event.peer, 6);
                    } else {
                        enet_peer_disconnect_now(event.peer, 6);
                        ++finished;
                    }
                } else if (event.type == ENET_EVENT_TYPE_DISCONNECT) {
                    ++finished;
                } else if (event.type == ENET_EVENT_TYPE_RECEIVE) {
                    enet_packet_destroy(event.packet);
                }
            }
        }
        stormDone = true;
    });

    const auto deadline = std::chrono::steady_clock::now() + 90s;
    while (std::chrono::steady_clock::now() < deadline) {
        server.Update();
        if (stormDone && server.GetPeerCount() == 0 && sink.disconnects.size() == sink.connects.size() &&
            sink.connects.size() >= size_t(stormConnects.load()))
            break;
        std::this_thread::sleep_for(1ms);
    }
    storm.join();

    EXPECT_EQ(stormConnects.load(), StormSize);
    EXPECT_EQ(sink.connects.size(), size_t(StormSize));
    EXPECT_EQ(sink.disconnects.size(), sink.connects.size());
    EXPECT_EQ(server.GetPeerCount(), 0u);
    EXPECT_FALSE(server.IsNetworkThreadRunning());
    EXPECT_EQ(CountThreadsNamed("NetworkThread"), 0);

    CLoopbackClient late;
    const ConnectedPair pair = ConnectOne(server, sink, late);
    ASSERT_TRUE(pair.serverPeer);
    ASSERT_TRUE(late.Send(pair.clientPeer, {1, 2}));
    EXPECT_TRUE(PumpUntil(server, late, [&] { return !sink.messages.empty(); }));
}

// Hazard: a main loop that falls behind must not let the network thread queue received data
// without limit; what waits stays with ENet and arrives later, complete and in order.
TEST(ENetServer, EventQueueStaysWithinItsLimitWhileTheMainLoopIsBehindAndLosesNothing)
{
    CRecordingSink sink;
    CENetServer server(&sink);
    ASSERT_TRUE(server.Initialise(0, "127.0.0.1", true));
    server.SetEventQueueLimits(8, 1 << 20);
    CLoopbackClient client;
    const ConnectedPair pair = ConnectOne(server, sink, client);
    ASSERT_TRUE(server.IsNetworkThreadRunning());

    constexpr uint32_t Count = 100;
    for (uint32_t i = 0; i < Count; ++i)
        ASSERT_TRUE(client.Send(pair.clientPeer, {uint8_t(i), uint8_t(i >> 8)}));
    size_t mostQueued = 0;
    const auto until = std::chrono::steady_clock::now() + 300ms;
    while (std::chrono::steady_clock::now() < until) {
        client.Service();
        mostQueued = std::max(mostQueued, server.GetQueuedEventCount());
        std::this_thread::sleep_for(2ms);
    }
    EXPECT_GT(mostQueued, 0u);
    EXPECT_LE(mostQueued, 8u);

    ASSERT_TRUE(PumpUntil(server, client, [&] { return sink.messages.size() >= Count; }));
    for (uint32_t i = 0; i < Count; ++i)
        EXPECT_EQ(sink.messages[i].bytes, (Bytes{uint8_t(i), uint8_t(i >> 8)}));
}

TEST(ENetServer, InitialiseResolvesBindAddressesAndReportsWhatCannotBeBound)
{
    struct Case {
        const char* bindAddress;
        bool succeeds;
    };
    const Case cases[] = {
        {"", true},
        {"127.0.0.1", true},
        {"localhost", true},
        {"256.1.2.3", false},
        {"not a host name!", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bindAddress);
        CRecordingSink sink;
        CENetServer server(&sink);
        EXPECT_EQ(server.Initialise(0, c.bindAddress, false), c.succeeds);
        EXPECT_EQ(server.GetPort() != 0, c.succeeds);
    }

    CRecordingSink sink;
    CENetServer first(&sink);
    ASSERT_TRUE(first.Initialise(0, "127.0.0.1", false));
    CENetServer second(&sink);
    EXPECT_FALSE(second.Initialise(first.GetPort(), "127.0.0.1", false)) << "the port is taken";
}

TEST(ENetServer, WithoutAHostSendsFailAndLookupsKnowNoPeer)
{
    CRecordingSink sink;
    CENetServer server(&sink);
    EXPECT_FALSE(server.SendPacket(NetPeer{1}, Packet(5), PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0));
    EXPECT_FALSE(server.SendEveryonePacket(Packet(5), PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0));
    EXPECT_EQ(server.GetLastPing(NetPeer{}), 0xFFFFFFFFu);
    server.Disconnect(NetPeer{1}, 1);
    server.Update();
    EXPECT_EQ(server.GetPeerCount(), 0u);
}

} // namespace
