#pragma once
// What the transport reports to the server.

#include "Network/NetPeer.h"

#include <cstddef>
#include <cstdint>

namespace Corvane3D {

class Packet;

// One raw datagram that arrived on the game socket, offered before ENet parses it.
class INetSocket {
public:
    virtual ~INetSocket() = default;
    // The datagram's bytes; valid only during the call that was given this socket.
    virtual const uint8_t* GetData(size_t& length) = 0;
    // Sends the packet's bytes as one raw datagram from the game socket to the datagram's sender.
    virtual bool Send(const Packet& packet) = 0;
};

// The transport's event sink. Everything but ReceiveDatagram runs on the thread that calls the
// transport's Update (the main thread).
class INetServerEvents {
public:
    virtual ~INetServerEvents() = default;
    // The bytes are valid only during the call; keep a copy of what is needed later.
    virtual void PacketEvent(NetPeer peer, const uint8_t* data, size_t length) = 0;
    virtual void OnConnect(NetPeer peer) = 0;
    // `reason` is the peer's disconnect data, 0 when it timed out.
    virtual void OnDisconnect(NetPeer peer, uint32_t reason) = 0;
    // Offered every datagram that begins FF FF, on whichever thread services the socket, so it may
    // only touch state that is safe to read there. True when it consumed the datagram.
    virtual bool ReceiveDatagram(INetSocket& socket)
    {
        (void)socket;
        return false;
    }
};

} // namespace Corvane3D
