#pragma once
// The ENet host behind CENetServer: servicing, the network thread and its two queues.

#include "Engine/Threading.h"
#include "Network/IPAddress.h"
#include "Network/NetPeer.h"
#include "Network/NetServerEvents.h"
#include "Network/Packet.h"

#include <enet/enet.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace Corvane3D {

struct ENetPacketDeleter {
    void operator()(ENetPacket* packet) const { enet_packet_destroy(packet); }
};
using ENetPacketPtr = std::unique_ptr<ENetPacket, ENetPacketDeleter>;

// A received event, named by the transport's own peer handle: by the time the main thread sees
// it, the ENet peer slot may already belong to another connection.
struct tThreadEvent {
    ENetEventType type = ENET_EVENT_TYPE_NONE;
    NetPeer peer;
    uint32_t data = 0;
    ENetPacketPtr packet;
};

struct tPendingPacket {
    ePacketPriority priority = PACKET_PRIORITY_LOW;
    ePacketFlags flags = PACKET_FLAG_NONE;
    uint8_t channel = 0;
    // No peer for a packet to everyone.
    NetPeer peer;
    ENetPacketPtr packet;
};

class CENetSystem {
public:
    static constexpr uint8_t STATE_NONE = 0;
    static constexpr uint8_t STATE_LISTENING = 6;

    explicit CENetSystem(INetServerEvents* sink);
    ~CENetSystem();
    CENetSystem(const CENetSystem&) = delete;
    CENetSystem& operator=(const CENetSystem&) = delete;

    bool InitAsServer(uint16_t port, const char* bindAddress, bool multithreaded);
    void Update();
    bool SendPacket(NetPeer peer, const Packet& packet, ePacketPriority priority, ePacketFlags flags,
                    uint8_t channel);
    bool SendEveryonePacket(const Packet& packet, ePacketPriority priority, ePacketFlags flags, uint8_t channel);
    void Disconnect(NetPeer peer, uint32_t reason);
    bool GetIPAddress(NetPeer peer, CIPAddress& address);
    uint32_t GetLastPing(NetPeer peer);

    uint16_t GetPort() const { return m_port; }
    size_t GetPeerCount() const { return m_peerCount; }
    bool IsNetworkThreadRunning() const { return m_thread != nullptr; }
    void SetCompression(bool enabled) { m_compression.store(enabled); }
    void SetEventQueueLimits(size_t events, size_t bytes);
    size_t GetQueuedEventCount();

private:
    struct tPeerRecord {
        // Null once ENet reported the disconnect; the record stays until the main thread has
        // told the sink, so the sink can still ask for the address.
        ENetPeer* peer = nullptr;
        CIPAddress address;
    };
    struct tBudget {
        size_t events;
        size_t bytes;
    };

    void InitCompressor();
    void ProcessEvent(tThreadEvent& event);
    // Both with the host lock held.
    void ProcessPendingPackets();
    void HandToENet(tPendingPacket& pending);
    // Takes events from ENet until it has none or the budget is spent; host lock held.
    void ServiceHost(std::vector<tThreadEvent>& captured, tBudget budget);
    void CaptureEvent(ENetEvent& event, std::vector<tThreadEvent>& captured, size_t& bytes);
    ENetPeer* FindConnectedPeer(NetPeer peer);
    void ForgetPeer(NetPeer peer);
    // Runs the queued events; false when there were none.
    bool ProcessThreadEvents();
    void StartNetworkThread();
    void StopNetworkThread();
    int ThreadMain();
    void ClearThreadEvents();
    void ClearPendingPackets();

    static int Intercept(ENetHost* host, ENetEvent* event);
    static size_t ForwardCompress(void* context, const ENetBuffer* inBuffers, size_t inBufferCount, size_t inLimit,
                                  enet_uint8* outData, size_t outLimit);
    static size_t ForwardDecompress(void* context, const enet_uint8* inData, size_t inLimit, enet_uint8* outData,
                                    size_t outLimit);
    static void ForwardDestroy(void* context);

    uint8_t m_state = STATE_NONE;
    INetServerEvents* m_sink;
    ENetHost* m_host = nullptr;
    uint16_t m_port = 0;
    // Main thread only.
    size_t m_peerCount = 0;
    bool m_multithreaded = false;
    std::atomic<bool> m_compression{true};
    ENetCompressor m_compressor{};
    // Created and destroyed on the main thread only.
    std::unique_ptr<CThreadCB> m_thread;
    Signalable m_stopThread;
    Signalable m_eventsReady;
    Signalable m_packetsPending;
    // Lock order: the host lock before the events or pending lock, never the reverse.
    CLockable m_hostLock;
    CLockable m_eventsLock;
    CLockable m_pendingLock;

    // Guarded by the events lock.
    std::vector<tThreadEvent> m_threadEvents;
    size_t m_queuedBytes = 0;
    size_t m_maxQueuedEvents;
    size_t m_maxQueuedBytes;

    // Guarded by the pending lock.
    std::vector<tPendingPacket> m_pendingPackets;

    // Guarded by the host lock.
    std::unordered_map<NetPeer, tPeerRecord> m_peers;
    uint64_t m_lastPeerId = 0;
};

} // namespace Corvane3D
