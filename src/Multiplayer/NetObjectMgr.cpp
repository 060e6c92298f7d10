#include "Multiplayer/NetObjectMgr.h"

#include "Multiplayer/NetMachine.h"

namespace Corvane3D {

CNetObjectMgr::CNetObjectMgr(CScripting* scripting, INetSender* transport, CNetMachines* machines, bool serverSide)
    : m_pScripting(scripting), m_pTransport(transport), m_pMachines(machines), m_bServerSide(serverSide)
{
    if (m_pScripting)
        RegisterClientFunctions();
}

CNetObjectMgr::~CNetObjectMgr() = default;

bool CNetObjectMgr::SendEveryonePacket(const Packet& packet)
{
    if (!m_bServerSide || !m_pTransport)
        return false;
    return m_pTransport->SendEveryonePacket(packet, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE | PACKET_FLAG_EVERYONE,
                                            0);
}

CBaseObject* CNetObjectMgr::ResolveNetObject(int32_t)
{
    return nullptr;
}

int32_t CNetObjectMgr::GetNetObjectId(const CBaseObject*)
{
    return -1;
}

bool CNetObjectMgr::IsCreatedFor(const CBaseObject*, const CNetMachine*)
{
    return false;
}

void CNetObjectMgr::SetNetObjectName(CBaseObject*, const std::string&) {}

bool CNetObjectMgr::DestroyObject(CBaseObject*)
{
    return false;
}

void CNetObjectMgr::ReleaseMachine(CNetMachine*) {}

void CNetObjectMgr::DisconnectMachine(CNetMachine* machine, uint32_t reason)
{
    if (machine && machine->GetPeer() && m_pTransport)
        m_pTransport->DisconnectPeer(machine->GetPeer(), reason);
}

} // namespace Corvane3D
