#include "Network/ENetServer.h"

#include "ENetSystem.h"

namespace Corvane3D {

CENetServer::CENetServer(INetServerEvents* sink) : m_system(std::make_unique<CENetSystem>(sink)) {}

CENetServer::~CENetServer() = default;

bool CENetServer::Initialise(uint16_t port, const char* bindAddress, bool multithreaded)
{
    return m_system->InitAsServer(port, bindAddress, multithreaded);
}

void CENetServer::Disconnect(NetPeer peer, uint32_t reason)
{
    m_system->Disconnect(peer, reason);
}

void CENetServer::Update()
{
    m_system->Update();
}

bool CENetServer::SendPacket(NetPeer peer, const Packet& packet, ePacketPriority priority, ePacketFlags flags,
                             uint8_t channel)
{
    return m_system->SendPacket(peer, packet, priority, flags, channel);
}

bool CENetServer::SendEveryonePacket(const Packet& packet, ePacketPriority priority, ePacketFlags flags,
                                     uint8_t channel)
{
    return m_system->SendEveryonePacket(packet, priority, flags, channel);
}

bool CENetServer::GetIPAddress(NetPeer peer, CIPAddress& address)
{
    return m_system->GetIPAddress(peer, address);
}

uint32_t CENetServer::GetLastPing(NetPeer peer)
{
    return m_system->GetLastPing(peer);
}

uint16_t CENetServer::GetPort() const
{
    return m_system->GetPort();
}

size_t CENetServer::GetPeerCount() const
{
    return m_system->GetPeerCount();
}

bool CENetServer::IsNetworkThreadRunning() const
{
    return m_system->IsNetworkThreadRunning();
}

void CENetServer::SetCompression(bool enabled)
{
    m_system->SetCompression(enabled);
}

void CENetServer::SetEventQueueLimits(size_t events, size_t bytes)
{
    m_system->SetEventQueueLimits(events, bytes);
}

size_t CENetServer::GetQueuedEventCount() const
{
    return m_system->GetQueuedEventCount();
}

} // namespace Corvane3D
