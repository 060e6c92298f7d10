#pragma once
// The game port: one ENet host, serviced by the main loop, or by "NetworkThread" every 5 ms while
// at least one peer is connected and the multithreaded setting is on.

#include "Network/IPAddress.h"
#include "Network/NetPeer.h"
#include "Network/NetServerEvents.h"
#include "Network/Packet.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace Corvane3D {

class CENetSystem;

class CENetServer {
public:
    // The sink must outlive the transport.
    explicit CENetServer(INetServerEvents* sink);
    virtual ~CENetServer();
    CENetServer(const CENetServer&) = delete;
    CENetServer& operator=(const CENetServer&) = delete;

    // Binds the host to `port` on `bindAddress` (a name or dotted address; empty or null for every
    // interface). Port 0 lets the system pick one (see GetPort). False when the address does not
    // resolve or the socket cannot be created or bound.
    virtual bool Initialise(uint16_t port, const char* bindAddress, bool multithreaded);
    // Begins a graceful disconnect that carries `reason`; the disconnect event follows later.
    virtual void Disconnect(NetPeer peer, uint32_t reason);
    // Delivers the received events to the sink; once per main-loop frame.
    virtual void Update();
    virtual bool SendPacket(NetPeer peer, const Packet& packet, ePacketPriority priority, ePacketFlags flags,
                            uint8_t channel);
    virtual bool SendEveryonePacket(const Packet& packet, ePacketPriority priority, ePacketFlags flags,
                                    uint8_t channel);
    // False for a peer that the transport does not know (never connected, or its departure has
    // been reported).
    virtual bool GetIPAddress(NetPeer peer, CIPAddress& address);
    // The last round-trip time in milliseconds; 0xFFFFFFFF for an unknown or departed peer.
    virtual uint32_t GetLastPing(NetPeer peer);

    // The bound UDP port; 0 without a host.
    uint16_t GetPort() const;
    // Peers whose connect has been reported and whose disconnect has not.
    size_t GetPeerCount() const;
    bool IsNetworkThreadRunning() const;
    // Compression of outgoing datagrams; on from the start. Incoming ones are always decompressed.
    void SetCompression(bool enabled);

    // The events that the network thread holds for the main thread are bounded: while `events`
    // events or `bytes` received bytes wait, the thread stops taking more from ENet, whose own
    // per-peer limits and the socket buffer then hold the surplus (reliable data is resent by the
    // clients, nothing is lost). Without the thread, one Update delivers at most as much.
    static constexpr size_t DefaultMaxQueuedEvents = 65536;
    static constexpr size_t DefaultMaxQueuedBytes = size_t(64) << 20;
    void SetEventQueueLimits(size_t events, size_t bytes);
    // Events that the network thread has queued for the next Update.
    size_t GetQueuedEventCount() const;

private:
    std::unique_ptr<CENetSystem> m_system;
};

} // namespace Corvane3D
