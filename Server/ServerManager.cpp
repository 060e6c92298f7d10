#include "ServerManager.h"

#include "BaseServer.h"

using namespace Corvane3D;

CServerManager::CServerManager(CBaseServer* server)
    : CNetObjectMgr(server->GetScripting(), server, &server->GetMachines(), true), m_pServer(server)
{
}

void CServerManager::DisconnectMachine(CNetMachine* machine, uint32_t reason)
{
    m_pServer->DisconnectClient(machine, reason);
}
