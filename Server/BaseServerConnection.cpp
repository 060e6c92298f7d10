// The connection lifecycle of a client: the new peer, the join request with its checks in a
// fixed order, acceptance, client ready, quit and departure.

#include "BaseServer.h"

#include "GameList.h"

#include "Engine/Context.h"
#include "Engine/CorvaneArguments.h"
#include "Engine/CorvaneStream.h"
#include "Engine/OS.h"
#include "Engine/Password.h"
#include "Multiplayer/DisconnectReason.h"

#include <strings.h>

#include <algorithm>

using namespace Corvane3D;

namespace {

// Clients must send exactly this network version.
constexpr uint32_t NetworkVersion = 0;
constexpr uint16_t MaxNicknameLength = 31;
// Address texts of connecting peers are at most this long (terminator included).
constexpr size_t AddressTextSize = 128;

enum eConnectionMessage : uint32_t {
    MESSAGE_JOIN_REQUEST = 1,
    MESSAGE_JOIN_ACCEPTED = 2,
    MESSAGE_CLIENT_READY = 3,
    MESSAGE_RESOURCE_LIST = 8,
    MESSAGE_JOIN_COMPLETE = 14,
    MESSAGE_QUIT = 16,
    MESSAGE_GAME_MODE = 17,
    MESSAGE_CLIENT_LIST = 19,
    MESSAGE_CLIENT_ADDED = 20,
    MESSAGE_CLIENT_REMOVED = 21,
    MESSAGE_SERVER_NAME = 29,
};

void LogWarning(const char* format, const char* subject, const char* cause)
{
    if (Context* context = GetContext())
        context->LogWarn(format, subject, cause);
}

// The peer's numeric address text without a port; false when there is none.
bool GetAddressText(CNetServerCompatibilityShim& shim, NetPeer peer, CIPAddress& address, char (&text)[AddressTextSize])
{
    return shim.GetPeerIP(peer, address) && address.ToString(text, sizeof text, false) && text[0] != '\0';
}

// The four parts compare as unsigned numbers, the first most significant; equal is enough.
bool IsBelowMinimum(const uint32_t (&version)[4], const uint32_t (&minimum)[4])
{
    return std::lexicographical_compare(version, version + 4, minimum, minimum + 4);
}

// A nickname is shown in every log line and on every client: it must not be able to carry
// control characters (a line feed forging a log line, a terminal escape) or end early at a NUL.
bool IsValidNickname(const std::string& nickname)
{
    if (nickname.empty() || nickname[0] == '\0')
        return false;
    return std::none_of(nickname.begin(), nickname.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

} // namespace

bool CBaseServer::IsConsoleClient(CNetMachine* client) const
{
    return client == nullptr || (client == m_pConsoleClient.Get() && client->IsConsole());
}

size_t CBaseServer::GetJoinedPlayerCount() const
{
    size_t joined = 0;
    for (int32_t index = 0; index < CNetMachines::ConsoleSlot; ++index) {
        const CNetMachine* client = m_machines.GetMachine(index);
        if (client && client->IsJoined() && !client->IsConsole())
            ++joined;
    }
    return joined;
}

Strong<CNetMachine> CBaseServer::NewMachine(CNetObjectMgr* manager)
{
    return MakeStrong<CNetMachine>(manager);
}

void CBaseServer::CreateConsoleClient()
{
    Strong<CNetMachine> console = NewMachine(m_pManager.get());
    console->SetGameName(m_settings.m_game);
    console->SetGame(m_settings.m_gameId);
    console->SetIndex(CNetMachines::ConsoleSlot);
    console->SetAdministrator(true);
    console->SetConsole(true);
    console->SetName("Console");
    m_pConsoleClient = console;
    m_machines.SetMachine(CNetMachines::ConsoleSlot, console);
    m_machines.SetOurMachineIndex(CNetMachines::ConsoleSlot);
}

bool CBaseServer::IsInSlot(const CNetMachine* client) const
{
    return client && m_machines.GetMachine(client->GetIndex()) == client;
}

void CBaseServer::RefusePeer(NetPeer peer, uint32_t reason)
{
    m_refusedPeers.insert(peer);
    DisconnectPeer(peer, reason);
}

bool CBaseServer::OnPlayerConnect(NetPeer peer)
{
    CIPAddress address;
    char text[AddressTextSize];
    if (!GetAddressText(*this, peer, address, text)) {
        RefusePeer(peer, DISCONNECT_FAILED);
        return false;
    }
    if (Context* context = GetContext())
        context->Log("CONNECT: %s is attempting to connect", text);

    CArgumentArray arguments;
    arguments.AddString(text);
    bool prevented = false;
    TriggerCancellableEvent("OnPlayerConnect", arguments, prevented);
    if (!prevented)
        return true;
    // A script that cancels the connect means to keep the peer out.
    LogWarning("CONNECT: %s revoked connection [%s]", text, "REFUSED BY SCRIPT");
    RefusePeer(peer, DISCONNECT_KICKED);
    return false;
}

void CBaseServer::ProcessPacket(NetPeer peer, uint32_t id, Stream& body)
{
    ProcessClientPacket(peer, m_machines.GetMachineFromPeer(peer), id, body);
}

void CBaseServer::ProcessClientPacket(NetPeer peer, CNetMachine* client, uint32_t id, Stream& body)
{
    if (id == MESSAGE_JOIN_REQUEST) {
        // Only a peer without a client asks to join; a refused peer never gets one, and nothing
        // it sends before it is gone is handled.
        if (!client && !m_refusedPeers.count(peer))
            HandleJoinRequest(peer, body);
        return;
    }
    if (!client)
        return;
    switch (id) {
    case MESSAGE_CLIENT_READY:
        HandleClientReady(client);
        break;
    case MESSAGE_QUIT:
        HandleQuit(client, body);
        break;
    default:
        CNetServerCompatibilityShim::ProcessPacket(peer, id, body);
        break;
    }
}

bool CBaseServer::CheckPassword(const std::string& address, const std::string& password)
{
    if (!m_settings.m_password.IsSet())
        return true;
    // Over the limit the attempt counts as wrong without running bcrypt.
    if (!m_passwordThrottle.TryTake(address, OS::GetTicks64()))
        return false;
    return VerifyPassword(password.c_str(), m_settings.m_password);
}

bool CBaseServer::IsNicknameInUse(const std::string& nickname) const
{
    for (int32_t index = 0; index < int32_t(CNetMachines::SlotCount); ++index) {
        const CNetMachine* client = m_machines.GetMachine(index);
        if (client && strcasecmp(client->GetName().c_str(), nickname.c_str()) == 0)
            return true;
    }
    return false;
}

// Each check refuses with its own reason; a request that ends early is refused by the check
// that meets the first missing field.
void CBaseServer::HandleJoinRequest(NetPeer peer, Stream& body)
{
    CIPAddress address;
    char text[AddressTextSize];
    if (!GetAddressText(*this, peer, address, text)) {
        RefusePeer(peer, DISCONNECT_FAILED);
        return;
    }
    auto refuse = [this, peer](const char* subject, const char* cause, uint32_t reason) {
        LogWarning("CONNECT: %s revoked connection [%s]", subject, cause);
        RefusePeer(peer, reason);
    };

    if (m_banList.IsBanned(text))
        return refuse(text, "BANNED", DISCONNECT_BANNED);

    CBinaryReader reader(&body);
    uint32_t networkVersion = 0;
    if (!reader.ReadUInt32(networkVersion))
        return refuse(text, "UNSUPPORTED CLIENT", DISCONNECT_UNSUPPORTEDCLIENT);
    if (networkVersion != NetworkVersion) {
        if (Context* context = GetContext())
            context->LogWarn("CONNECT: %s (%d) revoked connection [UNSUPPORTED CLIENT]", text, int(networkVersion));
        RefusePeer(peer, DISCONNECT_UNSUPPORTEDCLIENT);
        return;
    }

    uint32_t version[4] = {};
    if (!reader.ReadUInt32(version, 4) || IsBelowMinimum(version, m_settings.m_minClientVersion))
        return refuse(text, "UNSUPPORTED CLIENT", DISCONNECT_UNSUPPORTEDCLIENT);

    std::string password;
    if (!reader.ReadString(password) || !CheckPassword(text, password))
        return refuse(text, "WRONG PASSWORD", DISCONNECT_WRONGPASSWORD);

    uint16_t nameLength = 0;
    if (!reader.ReadUInt16(nameLength) || nameLength == 0 || nameLength > MaxNicknameLength)
        return refuse(text, "INVALID NICKNAME", DISCONNECT_INVALIDNICKNAME);
    std::string nickname(nameLength, '\0');
    if (!reader.Read(nickname.data(), nameLength) || !IsValidNickname(nickname))
        return refuse(text, "INVALID NICKNAME", DISCONNECT_INVALIDNICKNAME);

    uint8_t game = 0;
    if (!reader.ReadUInt8(game) || int(game) != m_settings.m_gameId)
        return refuse(nickname.c_str(), "WRONG GAME", DISCONNECT_UNSUPPORTEDENGINE);

    if (!m_settings.m_duplicateNames && IsNicknameInUse(nickname))
        return refuse(nickname.c_str(), "NICKNAME IN USE", DISCONNECT_NICKNAMEINUSE);

    const int32_t slot = m_machines.FindFreeClientSlot();
    if (m_playerCount >= size_t(std::max(m_settings.m_maxPlayers, 0)) || slot < 0)
        return refuse(nickname.c_str(), "SERVER FULL", DISCONNECT_FULL);

    AcceptClient(peer, address, nickname, game, slot);
}

void CBaseServer::AcceptClient(NetPeer peer, const CIPAddress& address, const std::string& nickname, int game,
                               int32_t slot)
{
    Strong<CNetMachine> client = NewMachine(m_pManager.get());
    client->SetPeer(peer);
    client->SetGameName(GetGameText(game));
    client->SetGame(game);
    client->SetIndex(slot);
    client->SetAddress(address);
    client->SetName(nickname);
    client->SetStreamingEnabled(false);
    m_machines.SetMachine(slot, client);
    ++m_playerCount;

    CArgumentArray arguments;
    arguments.AddObject(client);
    TriggerEvent("OnPlayerJoin", arguments);
    if (!IsInSlot(client))
        return;

    OnPlayerJoin(client);
    if (!IsInSlot(client))
        return;
    SendCVars(peer);

    Packet accepted(MESSAGE_JOIN_ACCEPTED);
    CBinaryWriter writer(&accepted);
    writer.WriteInt32(slot);
    writer.WriteUInt16(m_settings.m_httpPort);
    writer.WriteString(m_settings.m_httpURL);
    writer.WriteUInt16(m_settings.m_syncInterval);
    writer.WriteUInt8(0);
    writer.WriteUInt8(uint8_t(m_settings.m_syncMethod));
    client->SendPacket(accepted, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0);

    Packet gameMode(MESSAGE_GAME_MODE);
    CBinaryWriter(&gameMode).WriteString(m_settings.m_gameMode);
    client->SendPacket(gameMode, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0);

    Packet serverName(MESSAGE_SERVER_NAME);
    CBinaryWriter(&serverName).WriteString(m_settings.m_serverName);
    client->SendPacket(serverName, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0);

    // One message for everyone else, with the record written straight into it; a record that
    // cannot be written is not announced.
    Packet added(MESSAGE_CLIENT_ADDED);
    CBinaryWriter addedWriter(&added);
    if (addedWriter.WriteUInt16(1) && addedWriter.WriteInt32(slot) && client->Write(&added)) {
        for (int32_t index = 0; index < int32_t(CNetMachines::SlotCount); ++index) {
            CNetMachine* other = m_machines.GetMachine(index);
            if (other && other != client.Get())
                other->SendPacket(added, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0);
        }
    }

    // Every occupied slot, the console's and the client's own included, in slot order. Each
    // record is written apart first, so one that cannot be written is left out rather than cut
    // short; the count in front is filled in once it is known.
    Packet list(MESSAGE_CLIENT_LIST);
    CBinaryWriter listWriter(&list);
    listWriter.WriteUInt16(0);
    listWriter.WriteUInt16(uint16_t(std::clamp(m_settings.m_maxPlayers, 0, 0xFFFF)));
    Packet record;
    uint16_t count = 0;
    for (int32_t index = 0; index < int32_t(CNetMachines::SlotCount); ++index) {
        CNetMachine* listed = m_machines.GetMachine(index);
        if (!listed)
            continue;
        record.Truncate();
        if (!CBinaryWriter(&record).WriteInt32(index) || !listed->Write(&record))
            continue;
        listWriter.Write(record.GetData(), record.GetSize());
        ++count;
    }
    list.Seek(PACKET_HEADER_SIZE, SEEK_ORIGIN_BEGIN);
    listWriter.WriteUInt16(count);
    client->SendPacket(list, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0);
}

void CBaseServer::SendResourceList(CNetMachine* client)
{
    // No resource offers scripts or files to clients yet.
    Packet packet(MESSAGE_RESOURCE_LIST);
    CBinaryWriter(&packet).WriteInt32(0);
    client->SendPacket(packet, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0);
}

void CBaseServer::HandleClientReady(CNetMachine* client)
{
    // The join sequence runs once; a repeated "ready" would replay it.
    if (client->IsJoined())
        return;
    Strong<CNetMachine> held(client);
    client->SetJoined(true);
    client->SetStreamingEnabled(true);
    SendResourceList(client);
    OnPlayerJoined(client);
    if (!IsInSlot(client))
        return;

    CArgumentArray arguments;
    arguments.AddObject(client);
    TriggerEvent("OnPlayerJoined", arguments);
    if (!IsInSlot(client))
        return;

    client->SendPlayer();
    Packet complete(MESSAGE_JOIN_COMPLETE);
    client->SendPacket(complete, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0);
}

void CBaseServer::HandleQuit(CNetMachine* client, Stream& body)
{
    int32_t reason = DISCONNECT_GRACEFUL;
    CBinaryReader(&body).ReadInt32(reason);
    DisconnectClient(client, uint32_t(reason));
}

void CBaseServer::DisconnectClient(CNetMachine* client, uint32_t reason)
{
    if (!client || client->IsConsole())
        return;
    Strong<CNetMachine> held(client);
    const NetPeer peer = client->GetPeer();
    if (!peer)
        return;
    OnPlayerDisconnect(peer, reason);
    // The transport's own disconnect event later finds no client and does nothing.
    DisconnectPeer(peer, reason);
}

// Every reason empties the slot, 12 included: a slot kept for ever would shrink the server.
void CBaseServer::OnPlayerDisconnect(NetPeer peer, uint32_t reason)
{
    m_refusedPeers.erase(peer);
    CNetMachine* found = m_machines.GetMachineFromPeer(peer);
    if (!found || found->IsDeparting())
        return;
    Strong<CNetMachine> client(found);
    client->SetDeparting(true);

    CArgumentArray arguments;
    arguments.AddObject(client);
    arguments.AddNumber(int32_t(reason));
    TriggerEvent("OnPlayerQuit", arguments);

    m_pManager->ReleaseMachine(client);
    if (CBaseObject* player = client->GetPlayer()) {
        Strong<CBaseObject> heldPlayer(player);
        m_pManager->DestroyObject(player);
    }
    client->SetPlayer(nullptr);

    if (m_playerCount > 0)
        --m_playerCount;
    const int32_t index = client->GetIndex();
    client->SetIndex(-1);
    // Nothing meant for this client may reach whoever the transport serves next.
    client->SetPeer(NetPeer{});
    m_machines.RemoveMachine(index);

    Packet removed(MESSAGE_CLIENT_REMOVED);
    CBinaryWriter writer(&removed);
    writer.WriteUInt16(1);
    writer.WriteInt32(index);
    m_pManager->SendEveryonePacket(removed);
}
