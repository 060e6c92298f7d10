// The game's packet gate: every message from a client passes here first. Until the client's
// digests of the anticheat files match, nothing else it sends is handled.

#include "RovaServer.h"

#include "Engine/Context.h"
#include "Engine/CorvaneStream.h"
#include "Multiplayer/DisconnectReason.h"

#include <cstring>

using namespace Corvane3D;

namespace {

constexpr uint32_t MessageAnticheat = 149;

} // namespace

void CRovaServer::ProcessPacket(NetPeer peer, uint32_t id, Stream& body)
{
    CNetMachine* machine = GetMachines().GetMachineFromPeer(peer);
    // Until a client's digests match, nothing else it sends is handled; once they have, further
    // digests are not.
    if (auto* client = dynamic_cast<CRovaClient*>(machine); client && !client->IsAnticheatVerified()) {
        if (id == MessageAnticheat)
            HandleAnticheatDigests(client, body);
        return;
    }
    if (id == MessageAnticheat)
        return;
    // The base handles a join request only from a peer without a client, and nothing else from one.
    ProcessClientPacket(peer, machine, id, body);
}

void CRovaServer::OnPlayerJoin(CNetMachine* client)
{
    Packet packet(MessageAnticheat);
    CBinaryWriter writer(&packet);
    writer.WriteUInt32(uint32_t(m_anticheatFiles.size()));
    for (const tAnticheatFile& file : m_anticheatFiles)
        writer.WriteString(file.m_path);
    client->SendPacket(packet, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0);
}

void CRovaServer::HandleAnticheatDigests(CRovaClient* client, Stream& body)
{
    const std::string address = client->GetAddress().ToString(false);
    if (address.empty()) {
        DisconnectClient(client, DISCONNECT_FAILED);
        return;
    }
    Context* context = GetContext();
    CBinaryReader reader(&body);
    uint32_t count = 0;
    if (!reader.ReadUInt32(count) || count != m_anticheatFiles.size()) {
        if (context)
            context->LogWarn("CONNECT: %s revoked connection [CRC CHECK FAILED]", address.c_str());
        DisconnectClient(client, DISCONNECT_ANTICHEAT);
        return;
    }
    for (const tAnticheatFile& file : m_anticheatFiles) {
        // A digest cut short counts as a mismatch of the file it belongs to.
        CMD5Hash::Digest digest{};
        if (!reader.Read(digest.data(), digest.size()) ||
            std::memcmp(digest.data(), file.m_digest.data(), digest.size()) != 0) {
            if (context)
                context->LogWarn("CONNECT: %s revoked connection [CRC CHECK FAILED - %s]", address.c_str(),
                                 file.m_path.c_str());
            DisconnectClient(client, DISCONNECT_ANTICHEAT);
            return;
        }
    }
    client->SetAnticheatVerified(true);
}
