#pragma once
// The game server of the game family: the game's own settings and per-frame work.

#include "BaseServer.h"
#include "RovaClient.h"
#include "VehicleColours.h"

#include "Engine/MD5Hash.h"

#include <string>
#include <vector>

class CRovaServer : public CBaseServer {
public:
    struct tAnticheatFile {
        std::string m_path;
        std::string m_source;
        Corvane3D::CMD5Hash::Digest m_digest{};
    };

    CRovaServer();
    // Without a socket; see CBaseServer.
    explicit CRovaServer(Corvane3D::INetSender& sender);
    ~CRovaServer() override;

    bool ParseConfig(CServerConfiguration& config) override;

    // Sees every message first: the anticheat gate, then the game's own messages, then the base.
    void ProcessPacket(Corvane3D::NetPeer peer, uint32_t id, Corvane3D::Stream& body) override;

    // A game file whose digest clients must report before anything else they send is handled.
    // False (after a warning) when the source cannot be read; the file is then not asked for.
    bool AddFileToAnticheat(const char* path, const char* source);
    const std::vector<tAnticheatFile>& GetAnticheatFiles() const { return m_anticheatFiles; }

    CVehicleColours& GetVehicleColours() { return m_vehicleColours; }

    // The vehicle colour table of a game id; null for games without one.
    static const char* GetVehicleColoursFile(int gameId);

protected:
    Corvane3D::Strong<Corvane3D::CNetMachine> NewMachine(Corvane3D::CNetObjectMgr* manager) override;
    // Asks the new client for the digests of the anticheat files (message 149).
    void OnPlayerJoin(Corvane3D::CNetMachine* client) override;

private:
    void RegisterClientFunctions();
    void HandleAnticheatDigests(CRovaClient* client, Corvane3D::Stream& body);

    CVehicleColours m_vehicleColours;
    std::vector<tAnticheatFile> m_anticheatFiles;
};
