// The "Client" script class and the global functions that find clients.

#include "Multiplayer/DisconnectReason.h"
#include "Multiplayer/NetMachines.h"
#include "Multiplayer/NetObjectMgr.h"

#include "Engine/CorvaneNative.h"
#include "Engine/ReflectedClass.h"
#include "Engine/Scripting.h"

namespace Corvane3D {

namespace {

CNetObjectMgr* Manager(void* privateData)
{
    return static_cast<CNetObjectMgr*>(privateData);
}

bool This(CNativeState* state, void* privateData, CNetMachine*& machine)
{
    return state->GetThis(Manager(privateData)->GetClientClass(), machine);
}

bool RequireServerSide(CNativeState* state, void* privateData)
{
    if (!Manager(privateData)->IsServerSide())
        return state->Error("Must be used serverside");
    return true;
}

// An element argument that may also be null or undefined.
bool CheckOptionalElement(CNativeState* state, size_t index, CBaseObject*& element)
{
    element = nullptr;
    const CArgument* argument = state->GetArgument(index);
    if (argument && argument->IsNull())
        return true;
    return state->CheckReferenceable(index, element);
}

// A client that scripts may see as a player in the game: joined, and not the console.
bool IsListedClient(const CNetMachine* machine)
{
    return machine && machine->IsJoined() && !machine->IsConsole();
}

bool FunctionGetConsole(CNativeState* state, int, void* privateData)
{
    CNetMachine* console = Manager(privateData)->GetMachines()->GetMachine(CNetMachines::ConsoleSlot);
    state->ReturnObject(console && console->IsConsole() ? console : nullptr);
    return true;
}

bool FunctionGetClients(CNativeState* state, int, void* privateData)
{
    const CNetMachines* machines = Manager(privateData)->GetMachines();
    auto clients = MakeStrong<CArgumentArray>();
    for (int32_t index = 0; index < int32_t(CNetMachines::SlotCount); ++index) {
        if (CNetMachine* machine = machines->GetMachine(index); IsListedClient(machine))
            clients->AddObject(machine);
    }
    state->ReturnAndOwn(std::move(clients));
    return true;
}

bool FunctionGetClient(CNativeState* state, int, void* privateData)
{
    int32_t index = 0;
    if (!state->CheckNumber(0, index))
        return false;
    if (index < 0 || index >= int32_t(CNetMachines::SlotCount))
        return state->Error("index out of bounds");
    CNetMachine* machine = Manager(privateData)->GetMachines()->GetMachine(index);
    state->ReturnObject(IsListedClient(machine) ? machine : nullptr);
    return true;
}

bool FunctionGetClientFromPlayerElement(CNativeState* state, int, void* privateData)
{
    CBaseObject* element = nullptr;
    if (!CheckOptionalElement(state, 0, element))
        return false;
    const CNetMachines* machines = Manager(privateData)->GetMachines();
    for (int32_t index = 0; element && index < int32_t(CNetMachines::SlotCount); ++index) {
        CNetMachine* machine = machines->GetMachine(index);
        if (machine && machine->GetPlayer() == element) {
            state->ReturnObject(machine);
            return true;
        }
    }
    state->ReturnNull();
    return true;
}

bool GetLocalClient(CNativeState* state, int, void* privateData)
{
    state->ReturnObject(Manager(privateData)->GetMachines()->GetOurMachine());
    return true;
}

bool GetLocalPlayer(CNativeState* state, int, void* privateData)
{
    CNetMachine* local = Manager(privateData)->GetMachines()->GetOurMachine();
    state->ReturnObject(local ? local->GetPlayer() : nullptr);
    return true;
}

bool GetIndex(CNativeState* state, int, void* privateData)
{
    CNetMachine* machine;
    if (!This(state, privateData, machine))
        return false;
    state->ReturnNumber(machine->GetIndex());
    return true;
}

bool GetName(CNativeState* state, int, void* privateData)
{
    CNetMachine* machine;
    if (!This(state, privateData, machine))
        return false;
    state->ReturnString(machine->GetName().c_str(), machine->GetName().size());
    return true;
}

bool GetGame(CNativeState* state, int, void* privateData)
{
    CNetMachine* machine;
    if (!This(state, privateData, machine))
        return false;
    state->ReturnNumber(machine->GetGame());
    return true;
}

bool GetPlayer(CNativeState* state, int, void* privateData)
{
    CNetMachine* machine;
    if (!This(state, privateData, machine))
        return false;
    state->ReturnObject(machine->GetPlayer());
    return true;
}

bool SetPlayer(CNativeState* state, int, void* privateData)
{
    CNetMachine* machine;
    if (!This(state, privateData, machine))
        return false;
    CBaseObject* element = nullptr;
    if (!CheckOptionalElement(state, 0, element))
        return false;
    // Only a registered element can be a player: its id is what clients are told.
    if (element && Manager(privateData)->GetNetObjectId(element) < 0)
        return state->ArgumentError("Element", 0);
    machine->SetPlayer(element);
    return true;
}

bool GetAdministrator(CNativeState* state, int, void* privateData)
{
    CNetMachine* machine;
    if (!This(state, privateData, machine))
        return false;
    state->ReturnBoolean(machine->IsAdministrator());
    return true;
}

bool SetAdministrator(CNativeState* state, int, void* privateData)
{
    CNetMachine* machine;
    bool administrator = false;
    if (!This(state, privateData, machine) || !state->CheckBoolean(0, administrator))
        return false;
    if (administrator != machine->IsAdministrator()) {
        machine->SetAdministrator(administrator);
        machine->SendUpdate();
    }
    return true;
}

bool GetConsole(CNativeState* state, int, void* privateData)
{
    CNetMachine* machine;
    if (!This(state, privateData, machine))
        return false;
    state->ReturnBoolean(machine->IsConsole());
    return true;
}

bool GetIP(CNativeState* state, int, void* privateData)
{
    CNetMachine* machine;
    if (!This(state, privateData, machine) || !RequireServerSide(state, privateData))
        return false;
    const std::string text = machine->GetAddress().ToString(false);
    state->ReturnString(text.c_str(), text.size());
    return true;
}

bool GetPing(CNativeState* state, int, void* privateData)
{
    CNetMachine* machine;
    if (!This(state, privateData, machine) || !RequireServerSide(state, privateData))
        return false;
    int32_t ping = -1;
    if (machine->IsConsole())
        ping = 0;
    else if (machine->GetPeer() && Manager(privateData)->GetTransport())
        ping = int32_t(Manager(privateData)->GetTransport()->GetLastPing(machine->GetPeer()));
    state->ReturnNumber(ping);
    return true;
}

bool FunctionDespawnPlayer(CNativeState* state, int, void* privateData)
{
    CNetMachine* machine;
    if (!This(state, privateData, machine))
        return false;
    if (CBaseObject* player = machine->GetPlayer()) {
        Strong<CBaseObject> held(player);
        Manager(privateData)->DestroyObject(player);
        machine->SetPlayer(nullptr);
    }
    return true;
}

bool FunctionDisconnect(CNativeState* state, int argumentCount, void* privateData)
{
    CNetMachine* machine;
    if (!This(state, privateData, machine) || !RequireServerSide(state, privateData))
        return false;
    uint32_t reason = DISCONNECT_KICKED;
    if (argumentCount > 0 && !state->CheckNumber(0, reason))
        return false;
    if (machine->IsConsole())
        return state->Error("Cannot disconnect the console");
    Strong<CNetMachine> held(machine);
    Manager(privateData)->DisconnectMachine(machine, reason);
    return true;
}

bool FunctionGetData(CNativeState* state, int, void* privateData)
{
    CNetMachine* machine;
    const char* key;
    size_t length = 0;
    if (!This(state, privateData, machine) || !state->CheckString(0, key, &length))
        return false;
    if (const CArgument* value = machine->GetData(std::string_view(key, length)))
        state->Return(value);
    else
        state->ReturnUndefined();
    return true;
}

bool FunctionSetData(CNativeState* state, int argumentCount, void* privateData)
{
    CNetMachine* machine;
    const char* key;
    size_t length = 0;
    if (!This(state, privateData, machine) || !state->CheckString(0, key, &length))
        return false;
    const CArgument* value = state->GetArgument(1);
    if (!value)
        return state->ArgumentError("Value", 1);
    bool sync = true;
    if (argumentCount > 2 && !state->CheckBoolean(2, sync))
        return false;
    if (!machine->SetData(std::string_view(key, length), value, sync))
        return state->Error("data is not storable");
    return true;
}

bool FunctionRemoveData(CNativeState* state, int, void* privateData)
{
    CNetMachine* machine;
    const char* key;
    size_t length = 0;
    if (!This(state, privateData, machine) || !state->CheckString(0, key, &length))
        return false;
    machine->RemoveData(std::string_view(key, length));
    return true;
}

bool FunctionRemoveAllData(CNativeState* state, int, void* privateData)
{
    CNetMachine* machine;
    if (!This(state, privateData, machine))
        return false;
    machine->ClearData();
    return true;
}

} // namespace

void CNetObjectMgr::RegisterClientFunctions()
{
    ReflectedNamespace* global = m_pScripting->GetGlobal();
    m_pClientClass = global->NewClass("Client");
    ReflectedClass* client = m_pClientClass;
    client->AddProperty(this, "index", ARGUMENT_INTEGER, GetIndex);
    client->AddProperty(this, "name", ARGUMENT_STRING, GetName);
    client->AddProperty(this, "game", ARGUMENT_INTEGER, GetGame);
    client->AddProperty(this, "player", ARGUMENT_NETOBJECT, GetPlayer, m_bServerSide ? SetPlayer : nullptr);
    client->AddProperty(this, "administrator", ARGUMENT_BOOLEAN, GetAdministrator, SetAdministrator);
    client->AddProperty(this, "console", ARGUMENT_BOOLEAN, GetConsole);
    client->AddProperty(this, "ip", ARGUMENT_STRING, GetIP);
    client->AddProperty(this, "ping", ARGUMENT_INTEGER, GetPing);
    client->RegisterFunction("despawnPlayer", "t", FunctionDespawnPlayer, this);
    client->RegisterFunction("disconnect", "t|i", FunctionDisconnect, this);
    client->RegisterFunction("getData", "ts", FunctionGetData, this);
    client->RegisterFunction("setData", "ts.|b", FunctionSetData, this);
    client->RegisterFunction("removeData", "ts", FunctionRemoveData, this);
    client->RegisterFunction("removeAllData", "t", FunctionRemoveAllData, this);

    global->RegisterFunction("getConsole", "", FunctionGetConsole, this);
    global->RegisterFunction("getClients", "", FunctionGetClients, this);
    global->RegisterFunction("getClient", "i", FunctionGetClient, this);
    global->RegisterFunction("getClientFromPlayerElement", "x", FunctionGetClientFromPlayerElement, this);
    global->AddProperty(this, "localClient", ARGUMENT_OBJECT, GetLocalClient);
    global->AddProperty(this, "localPlayer", ARGUMENT_NETOBJECT, GetLocalPlayer);
}

} // namespace Corvane3D
