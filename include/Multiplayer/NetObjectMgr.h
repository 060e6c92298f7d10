#pragma once
// The element manager's engine side, as far as clients need it: the transport and slot table
// that clients use, the "Client" script class with the client functions, and the element
// operations a client's player goes through. The element registry builds on this class; until
// it exists there are no elements, so every element look-up finds nothing.

#include "Engine/CorvaneArguments.h"
#include "Network/NetSender.h"
#include "Network/Packet.h"

#include <cstdint>
#include <string>

namespace Corvane3D {

class CNetMachine;
class CNetMachines;
class CScripting;
class ReflectedClass;

class CNetObjectMgr : public INetObjectResolver {
public:
    // Registers the "Client" class and the client functions in the scripting core's root
    // namespace. `transport` may be null (nothing is sent); everything must outlive the manager.
    CNetObjectMgr(CScripting* scripting, INetSender* transport, CNetMachines* machines, bool serverSide);
    ~CNetObjectMgr() override;
    CNetObjectMgr(const CNetObjectMgr&) = delete;
    CNetObjectMgr& operator=(const CNetObjectMgr&) = delete;

    CScripting* GetScripting() const { return m_pScripting; }
    INetSender* GetTransport() const { return m_pTransport; }
    CNetMachines* GetMachines() const { return m_pMachines; }
    // Every message about clients and elements is sent only on the server side.
    bool IsServerSide() const { return m_bServerSide; }
    ReflectedClass* GetClientClass() const { return m_pClientClass; }

    // To every peer: priority 3, reliable, channel 0. False off the server side or without a
    // transport.
    bool SendEveryonePacket(const Packet& packet);

    // INetObjectResolver: the element registry answers these; without it there are no elements.
    CBaseObject* ResolveNetObject(int32_t id) override;
    int32_t GetNetObjectId(const CBaseObject* object) override;

    // Whether the element currently exists on that client.
    virtual bool IsCreatedFor(const CBaseObject* element, const CNetMachine* machine);
    // A player element carries its client's nickname as its name.
    virtual void SetNetObjectName(CBaseObject* element, const std::string& name);
    virtual bool DestroyObject(CBaseObject* element);
    // Drops every hold a departing client has on elements: syncer, preferred syncer, created state.
    virtual void ReleaseMachine(CNetMachine* machine);
    // Ends a client's connection with `reason`. The base asks the transport; a server runs its
    // own departure handling first.
    virtual void DisconnectMachine(CNetMachine* machine, uint32_t reason);

private:
    void RegisterClientFunctions();

    CScripting* m_pScripting;
    INetSender* m_pTransport;
    CNetMachines* m_pMachines;
    bool m_bServerSide;
    ReflectedClass* m_pClientClass = nullptr;
};

} // namespace Corvane3D
