#include "Multiplayer/NetMachine.h"

#include "Engine/CorvaneStream.h"
#include "Multiplayer/NetObjectMgr.h"
#include "Network/NetSender.h"

#include <limits>

namespace Corvane3D {

namespace {

// Messages about one machine start with a machine count that is always 1.
void WriteMachineHead(CBinaryWriter& writer, int32_t index)
{
    writer.WriteUInt16(1);
    writer.WriteInt32(index);
}

} // namespace

CNetMachine::CNetMachine(CNetObjectMgr* manager) : m_pManager(manager), m_pData(MakeStrong<CArgumentMap>())
{
    m_address.m_family = AF_INET;
    if (manager)
        SetReflectedClass(manager->GetClientClass());
}

CNetMachine::~CNetMachine()
{
    m_pData->Clear();
    m_pPlayer = nullptr;
}

uint8_t CNetMachine::GetFlags() const
{
    uint8_t flags = 0;
    if (m_bAdministrator)
        flags |= FlagAdministrator;
    if (m_bConsole)
        flags |= FlagConsole;
    return flags;
}

bool CNetMachine::SendPacket(const Packet& packet, ePacketPriority priority, ePacketFlags flags, uint8_t channel)
{
    if (m_bConsole || !m_peer || !m_pManager || !m_pManager->GetTransport())
        return false;
    return m_pManager->GetTransport()->SendPacket(m_peer, packet, priority, flags, channel);
}

CBaseObject* CNetMachine::GetPlayer()
{
    if (m_playerId == -1 || !m_pManager)
        return nullptr;
    CBaseObject* player = m_pManager->ResolveNetObject(m_playerId);
    m_pPlayer = player;
    return player;
}

void CNetMachine::SetPlayer(CBaseObject* element)
{
    if (element == m_pPlayer.Get() && (element || m_playerId == -1))
        return;
    m_pPlayer = element;
    m_playerId = element && m_pManager ? m_pManager->GetNetObjectId(element) : -1;
    if (element && m_pManager)
        m_pManager->SetNetObjectName(element, m_name);
    if (m_pManager && m_pManager->IsServerSide()) {
        Packet packet(NETMACHINE_MESSAGE_PLAYER);
        CBinaryWriter writer(&packet);
        WriteMachineHead(writer, m_index);
        writer.WriteInt32(m_playerId);
        m_pManager->SendEveryonePacket(packet);
    }
    SendPlayer();
}

void CNetMachine::SendPlayer()
{
    if (!m_pManager || !m_pManager->IsServerSide() || !m_bJoined)
        return;
    CBaseObject* player = GetPlayer();
    const int32_t id = player && m_pManager->IsCreatedFor(player, this) ? m_playerId : -1;
    Packet packet(NETMACHINE_MESSAGE_LOCAL_PLAYER);
    CBinaryWriter(&packet).WriteInt32(id);
    SendPacket(packet, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0);
}

void CNetMachine::SendUpdate()
{
    if (!m_pManager)
        return;
    Packet packet(NETMACHINE_MESSAGE_FLAGS);
    CBinaryWriter writer(&packet);
    WriteMachineHead(writer, m_index);
    writer.WriteUInt8(GetFlags());
    m_pManager->SendEveryonePacket(packet);
}

bool CNetMachine::BroadcastData(std::string_view key, const CArgument* value)
{
    if (!m_pManager || !m_pManager->IsServerSide())
        return false;
    Packet packet(NETMACHINE_MESSAGE_DATA);
    CBinaryWriter writer(&packet);
    WriteMachineHead(writer, m_index);
    writer.WriteUInt16(1);
    writer.WriteString(key);
    const uint8_t type = value ? value->GetType() : uint8_t(ARGUMENT_NIL);
    writer.WriteUInt8(type);
    // A message cut short by a value that cannot be written is not sent at all.
    if (value && !value->Write(&packet))
        return false;
    return m_pManager->SendEveryonePacket(packet);
}

bool CNetMachine::SetData(std::string_view key, const CArgument* value, bool sync)
{
    const bool removal = !value || value->GetType() == ARGUMENT_NIL;
    Strong<CArgument> stored;
    if (!removal) {
        // Only a value with a wire form can be stored: every client record carries it later.
        size_t size = 0;
        stored = value->Clone();
        if (!stored || !stored->GetSize(size))
            return false;
    }
    // Checked before anything is sent, so clients never hear of a value the server refused.
    if (sync)
        BroadcastData(key, removal ? nullptr : stored.Get());
    if (removal)
        m_pData->Remove(key);
    else
        m_pData->Set(key, std::move(stored));
    return true;
}

CArgument* CNetMachine::GetData(std::string_view key) const
{
    return m_pData->Get(key);
}

bool CNetMachine::RemoveData(std::string_view key)
{
    if (!m_pData->Remove(key))
        return false;
    BroadcastData(key, nullptr);
    return true;
}

void CNetMachine::ClearData()
{
    m_pData->Clear();
    if (!m_pManager)
        return;
    Packet packet(NETMACHINE_MESSAGE_DATA_CLEARED);
    CBinaryWriter writer(&packet);
    WriteMachineHead(writer, m_index);
    m_pManager->SendEveryonePacket(packet);
}

bool CNetMachine::WriteDataBlock(CBinaryWriter& writer, const CArgumentMap& data)
{
    const auto& entries = data.GetEntries();
    if (entries.size() > std::numeric_limits<uint16_t>::max())
        return false;
    if (!writer.WriteUInt16(uint16_t(entries.size())))
        return false;
    for (const auto& [key, value] : entries) {
        if (!writer.WriteString(key) || !writer.WriteUInt8(value->GetType()) || !value->WritePayload(writer, 0))
            return false;
    }
    return true;
}

bool CNetMachine::Write(Stream* stream) const
{
    CBinaryWriter writer(stream);
    if (!writer.WriteUInt8(GetFlags()) || !writer.WriteInt8(int8_t(m_game)) || !writer.WriteInt32(m_playerId))
        return false;
    return writer.WriteString(m_name) && WriteDataBlock(writer, *m_pData);
}

} // namespace Corvane3D
