#pragma once
// The game server of the game family: the game's own settings and per-frame work.

#include "BaseServer.h"
#include "VehicleColours.h"

#include <string>
#include <vector>

class CRovaServer : public CBaseServer {
public:
    struct tAnticheatFile {
        std::string m_path;
        std::string m_source;
    };

    CRovaServer();
    ~CRovaServer() override;

    bool ParseConfig(CServerConfiguration& config) override;

    // A game file whose digest clients must report before anything else they send is handled.
    void AddFileToAnticheat(const char* path, const char* source);
    const std::vector<tAnticheatFile>& GetAnticheatFiles() const { return m_anticheatFiles; }

    CVehicleColours& GetVehicleColours() { return m_vehicleColours; }

    // The vehicle colour table of a game id; null for games without one.
    static const char* GetVehicleColoursFile(int gameId);

private:
    CVehicleColours m_vehicleColours;
    std::vector<tAnticheatFile> m_anticheatFiles;
};
