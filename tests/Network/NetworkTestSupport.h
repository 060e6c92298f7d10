#pragma once
// Loopback helpers for the transport tests: a recording event sink, an in-process ENet client
// set up as a game client, a pump, thread-name checks and a deadlock watchdog.

#include "Network/ENetServer.h"
#include "Network/Packet.h"

#include <enet/enet.h>

#include <arpa/inet.h>
#include <dirent.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace NetTest {

using namespace Corvane3D;
using Bytes = std::vector<uint8_t>;

inline Bytes ToBytes(const Packet& packet)
{
    return Bytes(packet.GetData(), packet.GetData() + packet.GetSize());
}

inline Strong<Packet> MakePacket(const Bytes& bytes)
{
    Strong<Packet> packet = MakeStrong<Packet>();
    packet->Write(bytes.data(), bytes.size());
    return packet;
}

// Records what the transport reports. Datagrams may arrive on the network thread.
class CRecordingSink : public INetServerEvents {
public:
    struct Received {
        NetPeer peer;
        Bytes bytes;
    };

    void PacketEvent(NetPeer peer, const uint8_t* data, size_t length) override
    {
        messages.push_back({peer, Bytes(data, data + length)});
    }
    void OnConnect(NetPeer peer) override { connects.push_back(peer); }
    void OnDisconnect(NetPeer peer, uint32_t reason) override { disconnects.emplace_back(peer, reason); }
    bool ReceiveDatagram(INetSocket& socket) override
    {
        size_t length = 0;
        const uint8_t* data = socket.GetData(length);
        std::lock_guard<std::mutex> guard(datagramLock);
        datagrams.emplace_back(data, data + length);
        if (!acceptDatagrams)
            return false;
        socket.Send(*MakePacket(datagramReply));
        return true;
    }

    size_t DatagramCount()
    {
        std::lock_guard<std::mutex> guard(datagramLock);
        return datagrams.size();
    }

    std::vector<NetPeer> connects;
    std::vector<Received> messages;
    std::vector<std::pair<NetPeer, uint32_t>> disconnects;

    std::mutex datagramLock;
    std::vector<Bytes> datagrams;
    bool acceptDatagrams = true;
    Bytes datagramReply{0xFF, 0xFF, 'o', 'k'};
};

// An ENet host in this process, set up like a game client: range-coder compression, no checksum.
class CLoopbackClient {
public:
    struct Received {
        ENetPeer* peer;
        uint8_t channel;
        Bytes bytes;
    };

    explicit CLoopbackClient(size_t peers = 1, size_t channels = 8) : m_channels(channels)
    {
        host = enet_host_create(nullptr, peers, channels, 0, 0);
        if (host)
            enet_host_compress_with_range_coder(host);
    }
    ~CLoopbackClient()
    {
        if (host)
            enet_host_destroy(host);
    }
    CLoopbackClient(const CLoopbackClient&) = delete;
    CLoopbackClient& operator=(const CLoopbackClient&) = delete;

    ENetPeer* Connect(uint16_t port, uint32_t data = 0)
    {
        ENetAddress address{};
        address.host = htonl(INADDR_LOOPBACK);
        address.port = port;
        ENetPeer* peer = enet_host_connect(host, &address, m_channels, data);
        enet_host_flush(host);
        return peer;
    }

    bool Send(ENetPeer* peer, const Bytes& bytes, uint8_t channel = 0,
              enet_uint32 flags = ENET_PACKET_FLAG_RELIABLE)
    {
        ENetPacket* packet = enet_packet_create(bytes.data(), bytes.size(), flags);
        if (enet_peer_send(peer, channel, packet) != 0) {
            enet_packet_destroy(packet);
            return false;
        }
        enet_host_flush(host);
        return true;
    }

    // Takes every event that is waiting, without blocking.
    void Service()
    {
        ENetEvent event;
        while (enet_host_service(host, &event, 0) > 0) {
            switch (event.type) {
            case ENET_EVENT_TYPE_CONNECT:
                connected.push_back(event.peer);
                break;
            case ENET_EVENT_TYPE_RECEIVE:
                received.push_back(
                    {event.peer, event.channelID, Bytes(event.packet->data, event.packet->data + event.packet->dataLength)});
                enet_packet_destroy(event.packet);
                break;
            case ENET_EVENT_TYPE_DISCONNECT:
                disconnects.emplace_back(event.peer, event.data);
                break;
            default:
                break;
            }
        }
    }

    bool IsConnected(ENetPeer* peer) const { return peer && peer->state == ENET_PEER_STATE_CONNECTED; }

    ENetHost* host = nullptr;
    std::vector<ENetPeer*> connected;
    std::vector<Received> received;
    std::vector<std::pair<ENetPeer*, uint32_t>> disconnects;

private:
    size_t m_channels;
};

// Alternates client servicing and server updates until `done` holds; false at the deadline.
template <typename Done>
bool PumpUntil(CENetServer& server, CLoopbackClient& client, Done done, int timeoutMs = 5000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        client.Service();
        server.Update();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Keeps both sides busy for a while, for checks that something does not happen.
inline void PumpFor(CENetServer& server, CLoopbackClient& client, int milliseconds)
{
    PumpUntil(server, client, [] { return false; }, milliseconds);
}

// How many of this process's threads carry the name.
inline int CountThreadsNamed(const std::string& name)
{
    int count = 0;
    DIR* tasks = opendir("/proc/self/task");
    if (!tasks)
        return -1;
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
        std::string line;
        if (std::getline(comm, line) && line == name)
            ++count;
    }
    closedir(tasks);
    return count;
}

// Aborts the process when not disarmed in time: a deadlock must fail the run, not hang it.
class CWatchdog {
public:
    CWatchdog(std::chrono::seconds limit, std::string what)
        : m_thread([this, limit, what = std::move(what)] {
              std::unique_lock<std::mutex> lock(m_lock);
              if (!m_done.wait_for(lock, limit, [this] { return m_disarmed; })) {
                  std::fprintf(stderr, "watchdog: %s did not finish in time (deadlock?)\n", what.c_str());
                  std::abort();
              }
          })
    {
    }
    ~CWatchdog()
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_disarmed = true;
        }
        m_done.notify_all();
        m_thread.join();
    }
    CWatchdog(const CWatchdog&) = delete;
    CWatchdog& operator=(const CWatchdog&) = delete;

private:
    std::mutex m_lock;
    std::condition_variable m_done;
    bool m_disarmed = false;
    std::thread m_thread;
};

} // namespace NetTest
