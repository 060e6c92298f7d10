#pragma once
// The server's element manager: the engine manager with the server behind it, so that
// disconnecting a client runs the server's departure handling.

#include "Multiplayer/NetObjectMgr.h"

class CBaseServer;

class CServerManager : public Corvane3D::CNetObjectMgr {
public:
    explicit CServerManager(CBaseServer* server);

    CBaseServer* GetServer() const { return m_pServer; }

    void DisconnectMachine(Corvane3D::CNetMachine* machine, uint32_t reason) override;

private:
    CBaseServer* m_pServer;
};
