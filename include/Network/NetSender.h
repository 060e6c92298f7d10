#pragma once
// The server talks to its peers only through this interface, so message handlers can be tested
// with a recorder instead of a socket.

#include "Network/IPAddress.h"
#include "Network/NetPeer.h"
#include "Network/Packet.h"

#include <cstdint>

namespace Corvane3D {

class INetSender {
public:
    virtual ~INetSender() = default;
    // False only when there is no transport to take the packet. A packet for a peer that has
    // left is dropped.
    virtual bool SendPacket(NetPeer peer, const Packet& packet, ePacketPriority priority, ePacketFlags flags,
                            uint8_t channel) = 0;
    virtual bool SendEveryonePacket(const Packet& packet, ePacketPriority priority, ePacketFlags flags,
                                    uint8_t channel) = 0;
    // Begins a graceful disconnect; the reason reaches the peer as the disconnect data.
    virtual void DisconnectPeer(NetPeer peer, uint32_t reason) = 0;
    // False for a peer the transport does not know.
    virtual bool GetPeerIP(NetPeer peer, CIPAddress& address) = 0;
    // Milliseconds; 0xFFFFFFFF for a peer the transport does not know.
    virtual uint32_t GetLastPing(NetPeer peer) = 0;
};

} // namespace Corvane3D
