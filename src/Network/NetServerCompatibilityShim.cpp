#include "Network/NetServerCompatibilityShim.h"

#include "Engine/CorvaneStream.h"
#include "Engine/Stream.h"

namespace Corvane3D {

CNetServerCompatibilityShim::CNetServerCompatibilityShim() : m_transport(std::make_unique<CENetServer>(this)) {}

CNetServerCompatibilityShim::CNetServerCompatibilityShim(INetSender& sender) : m_sender(&sender) {}

CNetServerCompatibilityShim::~CNetServerCompatibilityShim()
{
    // The transport reports to this object until it is gone, so it goes first.
    m_transport.reset();
}

void CNetServerCompatibilityShim::PacketEvent(NetPeer peer, const uint8_t* data, size_t length)
{
    if (!data || length < PACKET_HEADER_SIZE)
        return;
    // The body is read in place; the stream ends where the message ends, so a handler that
    // reads too far gets failed reads, never bytes that are not its own.
    CMemoryStream stream(data, length);
    CBinaryReader reader(&stream);
    uint32_t magic = 0;
    uint32_t id = 0;
    if (!reader.ReadUInt32(magic) || magic != PACKET_HEADER_MAGIC || !reader.ReadUInt32(id))
        return;
    ProcessPacket(peer, id, stream);
}

void CNetServerCompatibilityShim::ProcessPacket(NetPeer peer, uint32_t id, Stream& body)
{
    const auto found = m_handlers.find(id);
    if (found != m_handlers.end() && found->second)
        found->second->HandleMessage(peer, id, body);
}

void CNetServerCompatibilityShim::OnConnect(NetPeer peer)
{
    OnPlayerConnect(peer);
}

void CNetServerCompatibilityShim::OnDisconnect(NetPeer peer, uint32_t reason)
{
    OnPlayerDisconnect(peer, reason);
}

bool CNetServerCompatibilityShim::OnPlayerConnect(NetPeer)
{
    return true;
}

void CNetServerCompatibilityShim::OnPlayerDisconnect(NetPeer, uint32_t) {}

void CNetServerCompatibilityShim::SetMessageHandler(uint32_t id, INetMessageHandler* handler)
{
    if (handler)
        m_handlers[id] = handler;
    else
        m_handlers.erase(id);
}

bool CNetServerCompatibilityShim::InitAsServer(uint16_t port, const char* bindAddress, bool multithreaded)
{
    return m_transport && m_transport->Initialise(port, bindAddress, multithreaded);
}

void CNetServerCompatibilityShim::UpdateNetwork()
{
    if (m_transport)
        m_transport->Update();
}

bool CNetServerCompatibilityShim::SendPacket(NetPeer peer, const Packet& packet, ePacketPriority priority,
                                             ePacketFlags flags, uint8_t channel)
{
    if (m_sender)
        return m_sender->SendPacket(peer, packet, priority, flags, channel);
    return m_transport && m_transport->SendPacket(peer, packet, priority, flags, channel);
}

bool CNetServerCompatibilityShim::SendEveryonePacket(const Packet& packet, ePacketPriority priority,
                                                     ePacketFlags flags, uint8_t channel)
{
    if (m_sender)
        return m_sender->SendEveryonePacket(packet, priority, flags, channel);
    return m_transport && m_transport->SendEveryonePacket(packet, priority, flags, channel);
}

void CNetServerCompatibilityShim::DisconnectPeer(NetPeer peer, uint32_t reason)
{
    if (m_sender)
        m_sender->DisconnectPeer(peer, reason);
    else if (m_transport)
        m_transport->Disconnect(peer, reason);
}

bool CNetServerCompatibilityShim::GetPeerIP(NetPeer peer, CIPAddress& address)
{
    if (m_sender)
        return m_sender->GetPeerIP(peer, address);
    return m_transport && m_transport->GetIPAddress(peer, address);
}

uint32_t CNetServerCompatibilityShim::GetLastPing(NetPeer peer)
{
    if (m_sender)
        return m_sender->GetLastPing(peer);
    return m_transport ? m_transport->GetLastPing(peer) : 0xFFFFFFFFu;
}

} // namespace Corvane3D
