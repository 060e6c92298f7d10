#include "RovaServer.h"

#include "Engine/Context.h"
#include "Engine/FileSystem.h"

#include <cmath>

using namespace Corvane3D;

CRovaServer::CRovaServer() = default;

CRovaServer::~CRovaServer() = default;

const char* CRovaServer::GetVehicleColoursFile(int gameId)
{
    switch (gameId) {
    case 1: return "/vehiclecolours.conf";
    case 2: return "/vehiclecolours_vc.conf";
    case 3: return "/vehiclecolours_sa.conf";
    case 5: return "/vehiclecolours_iv.conf";
    default: return nullptr;
    }
}

void CRovaServer::AddFileToAnticheat(const char* path, const char* source)
{
    m_anticheatFiles.push_back({path, source});
}

bool CRovaServer::ParseConfig(CServerConfiguration& config)
{
    if (!CBaseServer::ParseConfig(config))
        return false;
    Context* context = GetContext();
    CServerSettings& s = GetSettings();

    s.m_syncLocalEntities = config.GetBoolValue("synclocalentities", s.m_syncLocalEntities);

    if (CElementChunk* anticheat = config.GetElement("anticheat")) {
        for (CElementChunk* file : CServerConfiguration::GetChildren(anticheat, "file")) {
            const char* path = file->Attribute("path");
            const char* source = file->Attribute("src");
            if (!path) {
                context->LogError("Anticheat file in config without path attribute!");
                continue;
            }
            if (!source) {
                context->LogError("Anticheat file %s in config without src attribute!", path);
                continue;
            }
            AddFileToAnticheat(path, source);
        }
    }

    s.m_pickupStreamInDistance = config.GetRealValue("pickupstreamindistance", s.m_pickupStreamInDistance);
    s.m_pickupStreamOutDistance = config.GetRealValue("pickupstreamoutdistance", s.m_pickupStreamOutDistance);
    s.m_timeSync = config.GetBoolValue("timesync", s.m_timeSync);
    s.m_weatherSync = config.GetBoolValue("weathersync", s.m_weatherSync);
    const bool iv = s.m_gameId == 5;
    s.m_ivNativeMultiplayer = iv && config.GetBoolValue("iv_nativemultiplayer", true);
    s.m_ivGameMode = int(config.GetIntegerValue("iv_gamemode", s.m_ivGameMode));
    s.m_ivEpisode = int(config.GetIntegerValue("iv_episode", s.m_ivEpisode));

    m_vehicleColours.Clear();
    const char* coloursFile = GetVehicleColoursFile(s.m_gameId);
    Strong<Stream> colours;
    if (coloursFile && context->GetFileSystem())
        colours = context->GetFileSystem()->Open(coloursFile, false);
    if (!colours) {
        context->LogError("Failed to load vehicle colours!");
        return false;
    }
    m_vehicleColours.Load(colours);

    const float defaultMinute = iv ? 2.0f : 1.0f;
    s.m_minuteDuration = defaultMinute;
    if (config.GetText("minuteduration")) {
        const float minute = config.GetRealValue("minuteduration", defaultMinute);
        // A game minute of no time (or NaN) would stop or break the game clock.
        if (std::isfinite(minute) && minute > 0.0f)
            s.m_minuteDuration = minute;
        else
            context->LogWarn("The minuteduration must be a number greater than 0, using %g!", double(defaultMinute));
    }
    return true;
}
