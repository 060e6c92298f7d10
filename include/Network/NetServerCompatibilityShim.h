#pragma once
// Between the transport's raw events and the server's messages: checks and strips the message
// header, dispatches by message id, and offers the send operations in one place.

#include "Network/ENetServer.h"
#include "Network/NetSender.h"
#include "Network/NetServerEvents.h"

#include <memory>
#include <unordered_map>

namespace Corvane3D {

class Stream;

// Handles one message id. `body` is positioned after the header and holds exactly the message's
// remaining bytes; it and its bytes are valid only during the call.
class INetMessageHandler {
public:
    virtual ~INetMessageHandler() = default;
    virtual void HandleMessage(NetPeer peer, uint32_t id, Stream& body) = 0;
};

class CNetServerCompatibilityShim : public INetServerEvents, public INetSender {
public:
    // Owns a transport with itself as the event sink.
    CNetServerCompatibilityShim();
    // Sends, disconnects and look-ups go to `sender` and there is no socket: tests drive the
    // events by hand and read what the server sent from the recorder.
    explicit CNetServerCompatibilityShim(INetSender& sender);
    ~CNetServerCompatibilityShim() override;
    CNetServerCompatibilityShim(const CNetServerCompatibilityShim&) = delete;
    CNetServerCompatibilityShim& operator=(const CNetServerCompatibilityShim&) = delete;

    // INetServerEvents
    void PacketEvent(NetPeer peer, const uint8_t* data, size_t length) override;
    void OnConnect(NetPeer peer) override;
    void OnDisconnect(NetPeer peer, uint32_t reason) override;

    // A message whose header checked out. The default hands it to the handler registered for its
    // id and drops it when there is none.
    virtual void ProcessPacket(NetPeer peer, uint32_t id, Stream& body);
    // The transport goes on with the peer whatever this returns.
    virtual bool OnPlayerConnect(NetPeer peer);
    virtual void OnPlayerDisconnect(NetPeer peer, uint32_t reason);

    // A null handler removes the entry. The shim does not own handlers.
    void SetMessageHandler(uint32_t id, INetMessageHandler* handler);

    bool InitAsServer(uint16_t port, const char* bindAddress, bool multithreaded);
    void UpdateNetwork();

    // INetSender
    bool SendPacket(NetPeer peer, const Packet& packet, ePacketPriority priority, ePacketFlags flags,
                    uint8_t channel) override;
    bool SendEveryonePacket(const Packet& packet, ePacketPriority priority, ePacketFlags flags,
                            uint8_t channel) override;
    void DisconnectPeer(NetPeer peer, uint32_t reason) override;
    bool GetPeerIP(NetPeer peer, CIPAddress& address) override;
    uint32_t GetLastPing(NetPeer peer) override;

    // Null when sends go to an injected sender.
    CENetServer* GetTransport() const { return m_transport.get(); }

private:
    std::unique_ptr<CENetServer> m_transport;
    INetSender* m_sender = nullptr;
    std::unordered_map<uint32_t, INetMessageHandler*> m_handlers;
};

} // namespace Corvane3D
