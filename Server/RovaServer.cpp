#include "RovaServer.h"

#include "Engine/Context.h"
#include "Engine/CorvaneNative.h"
#include "Engine/CorvaneStream.h"
#include "Engine/FileSystem.h"
#include "Engine/ReflectedClass.h"

#include <cmath>
#include <cstdlib>

using namespace Corvane3D;

namespace {

bool GetTrainers(CNativeState* state, int, void* privateData)
{
    CRovaClient* client;
    if (!state->GetThis(static_cast<CRovaServer*>(privateData)->GetManager()->GetClientClass(), client))
        return false;
    state->ReturnBoolean(client->GetTrainers());
    return true;
}

bool SetTrainers(CNativeState* state, int, void* privateData)
{
    CRovaClient* client;
    bool trainers = false;
    if (!state->GetThis(static_cast<CRovaServer*>(privateData)->GetManager()->GetClientClass(), client) ||
        !state->CheckBoolean(0, trainers))
        return false;
    client->SetTrainers(trainers);
    return true;
}

} // namespace

CRovaServer::CRovaServer()
{
    RegisterClientFunctions();
}

CRovaServer::CRovaServer(INetSender& sender) : CBaseServer(sender)
{
    RegisterClientFunctions();
}

CRovaServer::~CRovaServer() = default;

void CRovaServer::RegisterClientFunctions()
{
    GetManager()->GetClientClass()->AddProperty(this, "trainers", ARGUMENT_BOOLEAN, GetTrainers, SetTrainers);
}

Strong<CNetMachine> CRovaServer::NewMachine(CNetObjectMgr* manager)
{
    // The "trainers" console variable, read as a decimal number, decides the starting flag.
    bool trainers = true;
    if (const CVarSystem::tCVar* cvar = GetCVars().Find("trainers"))
        trainers = std::strtol(cvar->m_value.c_str(), nullptr, 10) != 0;
    return MakeStrong<CRovaClient>(manager, trainers);
}

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

bool CRovaServer::AddFileToAnticheat(const char* path, const char* source)
{
    Context* context = GetContext();
    context->Log("Adding anticheat file %s. Game path: %s", source, path);
    if (!source || !*source) {
        context->LogWarn("An anticheat file path is blank.");
        return false;
    }
    CFileSystem* fileSystem = context->GetFileSystem();
    Strong<Stream> file = fileSystem ? fileSystem->Open(source, false) : nullptr;
    if (!file) {
        context->LogWarn("Failed to read anticheat file %s.", source);
        return false;
    }
    CMD5Hash md5;
    uint8_t piece[1024];
    for (size_t read; (read = file->Read(piece, sizeof piece)) > 0;)
        md5.Update(piece, read);
    m_anticheatFiles.push_back({path, source, md5.Final()});
    return true;
}

bool CRovaServer::ParseConfig(CServerConfiguration& config)
{
    if (!CBaseServer::ParseConfig(config))
        return false;
    Context* context = GetContext();
    CServerSettings& s = GetSettings();

    s.m_syncLocalEntities = config.GetBoolValue("synclocalentities", s.m_syncLocalEntities);

    CServerConfiguration::ForEachAttributePair(config.GetElement("anticheat"), "file", "Anticheat file", "path", "src",
                                               [this](const char* path, const char* source) {
                                                   AddFileToAnticheat(path, source);
                                               });

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
