#include "BaseServer.h"

#include "GameList.h"

#include "JSScripting/JSScripting.h"
#include "ServerManager.h"

#include "Engine/Context.h"
#include "Engine/CorvaneArguments.h"
#include "Engine/CorvaneStream.h"
#include "Engine/OS.h"

#include <strings.h>

#include <cstdio>

using namespace Corvane3D;

namespace {

// True when the schedule time lies before `now`; wrap-safe across the 32-bit millisecond wrap.
bool IsDue(uint32_t scheduled, uint32_t now)
{
    return int32_t(now - scheduled) > 0;
}

// A word-valued setting: its value, compared without regard to case.
struct tWord {
    const char* word;
    int value;
};

template <size_t N, typename OnUnknown>
int LookupWord(const tWord (&words)[N], const char* text, int fallback, OnUnknown onUnknown)
{
    for (const tWord& entry : words) {
        if (strcasecmp(entry.word, text) == 0)
            return entry.value;
    }
    onUnknown();
    return fallback;
}

} // namespace

CBaseServer::CBaseServer() : m_pResourceMgr(std::make_unique<CServerResourceMgr>(GetContext(), this))
{
    Construct();
}

CBaseServer::CBaseServer(INetSender& sender)
    : CNetServerCompatibilityShim(sender), m_pResourceMgr(std::make_unique<CServerResourceMgr>(GetContext(), this))
{
    Construct();
}

void CBaseServer::Construct()
{
    m_frameClock.Reset(OS::GetPerformanceCounter());
    GetEventHandlers()->CreateServerEventTypes();
    // Raised every frame: looked up once. Event types live as long as the resource manager.
    m_pOnProcess = GetEventHandlers()->GetEventType("OnProcess");
    m_pManager = std::make_unique<CServerManager>(this);
    RegisterServerFunctions(*GetScripting());
    RegisterConsoleCommands();
    // The script engines, in the order Lua, JavaScript, Squirrel; this build carries JavaScript.
    GetScripting()->AddVM(CJSScripting::GetId(), std::make_unique<CJSScripting>(GetScripting()));
}

bool CBaseServer::DefineClasses()
{
    if (GetScripting()->DefineAllClasses())
        return true;
    GetContext()->LogError("Unable to define all classes");
    return false;
}

CBaseServer::~CBaseServer()
{
    StopInputThread();
    m_inputQueue.Clear();
    // Resources stop first: their scripts may still ask about clients while they stop.
    m_pResourceMgr->ClearAllResources();
    m_machines.ReleaseAll();
    m_pConsoleClient = nullptr;
    m_pResourceMgr.reset();
    // After the scripts: a resource stopping with the scripting core may still ask about clients.
    m_pManager.reset();
}

bool CBaseServer::StartInputThread()
{
    if (m_pInputThread)
        return false;
    auto input = std::make_unique<CConsoleInput>(m_inputQueue);
    if (!input->Start())
        return false;
    m_pInputThread = std::move(input);
    return true;
}

void CBaseServer::StopInputThread()
{
    m_pInputThread.reset();
}

void CBaseServer::RefreshResources()
{
    m_pResourceMgr->RefreshResources(false);
}

void CBaseServer::SetResourcePrivileged(const char* name, const char* privileged)
{
    CResource* resource = m_pResourceMgr->FindResourceByName(name);
    if (!resource)
        return;
    // Converted like every boolean setting; a text that is not a boolean leaves the mark as it was.
    resource->SetPrivileged(CServerConfiguration::ParseBool(privileged, resource->IsPrivileged()));
}

bool CBaseServer::TriggerEvent(const char* name, const CArgumentArray& arguments)
{
    EventHandlers::CEventType* type = GetEventHandlers()->GetEventType(name);
    return type && type->Trigger(arguments);
}

bool CBaseServer::TriggerCancellableEvent(const char* name, const CArgumentArray& arguments, bool& prevented)
{
    prevented = false;
    EventHandlers::CEventType* type = GetEventHandlers()->GetEventType(name);
    return type && type->Trigger(arguments, prevented);
}

void CBaseServer::SendCVars(NetPeer peer)
{
    Packet packet(30);
    CBinaryWriter writer(&packet);
    const auto& vars = m_cvars.GetAll();
    writer.WriteUInt16(uint16_t(vars.size()));
    for (const auto& [hash, cvar] : vars) {
        // Each entry carries its own length so a reader can skip it whole.
        writer.Write7BitEncodedInt(uint32_t(GetStringSize(cvar.m_name.size()) + GetStringSize(cvar.m_value.size())));
        writer.WriteString(cvar.m_name);
        writer.WriteString(cvar.m_value);
    }
    if (peer)
        SendPacket(peer, packet, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0);
    else
        SendEveryonePacket(packet, PACKET_PRIORITY_LOW, PACKET_FLAG_RELIABLE, 0);
}

void CBaseServer::RequestStop()
{
    m_bQuit = true;
    m_stopFlag.Signal();
}

void CBaseServer::ResetFrameClock()
{
    m_frameClock.Reset(OS::GetPerformanceCounter());
}

bool CBaseServer::ParseConfig(CServerConfiguration& config)
{
    Context* context = GetContext();
    CServerSettings& s = m_settings;

    s.m_logPath = config.GetTextValue("logpath", s.m_logPath, MaxSettingText);
    s.m_logTimeStamp = config.GetTextValue("logtimestamp", s.m_logTimeStamp, MaxSettingText);
    context->GetFileLog().SetTimeStampFormat(s.m_logTimeStamp.c_str());
    if (!s.m_logPath.empty())
        context->OpenLogFile(s.m_logPath.c_str());

    s.m_bindIP = config.GetTextValue("bindip", s.m_bindIP, MaxSettingText);
    s.m_serverName = config.GetTextValue("servername", s.m_serverName, MaxSettingText);
    s.m_gameMode = config.GetTextValue("gamemode", s.m_gameMode, MaxSettingText);
    s.m_serverListingURL = config.GetTextValue("serverlistingurl", s.m_serverListingURL, MaxSettingText);
    if (s.m_serverListingURL.empty())
        s.m_serverListingURL = DefaultServerListingHost;
    s.m_serverBrowser = config.GetBoolValue("serverbrowser", s.m_serverBrowser);

    const long maxPlayers = config.GetIntegerValue("maxplayers", s.m_maxPlayers);
    if (maxPlayers == 0) {
        context->LogError("The max players should at least be 1!");
        return false;
    }
    // Unsigned comparison: a negative value gets this message too.
    if (uint32_t(maxPlayers) > 127 || maxPlayers > 127) {
        context->LogError("The max players should not be set to anything more than 127!");
        return false;
    }
    s.m_maxPlayers = int(maxPlayers);

    s.m_serverQuery = config.GetBoolValue("serverquery", s.m_serverQuery);
    s.m_port = uint16_t(config.GetIntegerValue("port", s.m_port));
    s.m_httpPort = uint16_t(config.GetIntegerValue("httpport", s.m_httpPort));
    if (const char* url = config.GetText("httpurl"))
        s.m_httpURL = url;
    s.m_rconPort = uint16_t(config.GetIntegerValue("rconport", s.m_rconPort));
    s.m_httpServer = config.GetBoolValue("httpserver", s.m_httpServer);
    s.m_rcon = config.GetBoolValue("rcon", s.m_rcon);
    if (s.m_rcon) {
        if (s.m_rconPort == s.m_httpPort) {
            context->LogError("The rconport and httpport cannot match!");
            return false;
        }
        s.m_rconPassword = CStoredPassword::Make(config.GetText("rconpassword"));
    }

    s.m_syncInterval = uint16_t(config.GetIntegerValue("syncinterval", s.m_syncInterval));
    static constexpr tWord syncMethods[] = {
        {"none", SYNC_METHOD_NONE}, {"interval", SYNC_METHOD_INTERVAL}, {"replay", SYNC_METHOD_REPLAY}};
    static constexpr tWord priorities[] = {{"immediate", PACKET_PRIORITY_IMMEDIATE},
                                           {"high", PACKET_PRIORITY_HIGH},
                                           {"medium", PACKET_PRIORITY_MEDIUM},
                                           {"low", PACKET_PRIORITY_LOW}};
    if (const char* method = config.GetText("syncmethod")) {
        s.m_syncMethod = eSyncMethod(LookupWord(syncMethods, method, SYNC_METHOD_INTERVAL, [context] {
            context->LogError("Invalid syncmethod specified, using interval!");
        }));
    }
    if (const char* priority = config.GetText("syncpacketpriority")) {
        s.m_syncPacketPriority = ePacketPriority(LookupWord(priorities, priority, PACKET_PRIORITY_LOW, [context] {
            context->LogError("Invalid syncpriority specified, using low!");
        }));
    }
    s.m_syncPacketFlags = 0;
    if (config.GetBoolValue("syncpacketreliable", false))
        s.m_syncPacketFlags |= PACKET_FLAG_RELIABLE;
    if (config.GetBoolValue("syncpacketunsequenced", false))
        s.m_syncPacketFlags |= PACKET_FLAG_UNSEQUENCED;

    s.m_duplicateNames = config.GetBoolValue("duplicatenames", s.m_duplicateNames);
    s.m_multithreaded = config.GetBoolValue("multithreaded", s.m_multithreaded);
    if (const char* version = config.GetText("minclientversion")) {
        int parts[4] = {1, 0, 0, 0};
        std::sscanf(version, "%d.%d.%d.%d", &parts[0], &parts[1], &parts[2], &parts[3]);
        for (int i = 0; i < 4; ++i)
            s.m_minClientVersion[i] = uint32_t(parts[i]);
    }

    s.m_password = CStoredPassword::Make(config.GetText("password"));

    if (!LoadModules(config) || !DefineClasses())
        return false;

    RefreshResources();
    if (CElementChunk* resources = config.GetElement("resources")) {
        for (CElementChunk* resource : CServerConfiguration::GetChildren(resources, "resource")) {
            const char* name = resource->Attribute("src");
            if (!name)
                continue;
            if (const char* privileged = resource->Attribute("privileged"))
                SetResourcePrivileged(name, privileged);
            m_startList.emplace_back(name);
        }
    }

    CServerConfiguration::ForEachAttributePair(config.GetRoot(), "cvar", "CVar", "name", "value",
                                               [this](const char* name, const char* value) {
                                                   m_cvars.Set(name, value, true);
                                                   m_cvars.Find(name)->m_readOnly = true;
                                               });
    CServerConfiguration::ForEachAttributePair(config.GetRoot(), "rule", "Rule", "name", "value",
                                               [this](const char* name, const char* value) {
                                                   m_rules.SetRule(name, value);
                                               });

    if (const char* game = config.GetText("game"))
        s.m_game = std::string(game).substr(0, MaxSettingText);
    s.m_gameId = LookupGameId(s.m_game.c_str());

    s.m_streamInDistance = config.GetRealValue("streamindistance", s.m_streamInDistance);
    s.m_streamOutDistance = config.GetRealValue("streamoutdistance", s.m_streamOutDistance);
    const long streamInterval = config.GetIntegerValue("streaminterval", s.m_streamInterval);
    if (streamInterval < 500 || streamInterval > 5000) {
        context->LogError("The streaminterval must be greater than or equal to 500 and less than or equal to 5000!");
        return false;
    }
    s.m_streamInterval = uint16_t(streamInterval);
    return true;
}

void CBaseServer::MainLoop()
{
    while (ProcessFrame()) {
    }
}

bool CBaseServer::ProcessFrame()
{
    bool joined;
    {
        CLockGuard guard(m_lock);
        const FrameTimeInfo& frame = m_frameClock.Advance(OS::GetPerformanceCounter(), g_ullTicksFrequency);
        UpdateTimers(frame.m_dFrameTime);
        ServiceScriptRequests();
        if (m_settings.m_rcon)
            ServiceRemoteConsole();
        if (m_bQuit || m_stopFlag.Poll())
            return false;

        UpdateNetwork();
        if (m_settings.m_serverBrowser)
            ServiceListing(frame.m_dFrameTime);

        joined = GetJoinedPlayerCount() > 0;
        if (joined) {
            const uint32_t now = OS::GetTicks();
            if (IsDue(m_nextStreamTime, now)) {
                m_nextStreamTime = now + m_settings.m_streamInterval;
                StreamingPass();
            }
            if (m_settings.m_syncMethod == SYNC_METHOD_INTERVAL && IsDue(m_nextSyncTime, now)) {
                SyncPass();
                m_nextSyncTime = now + m_settings.m_syncInterval;
            }
        }
        OnProcess(frame);
        RefreshQuerySnapshot();
    }
    ProcessConsoleInput();
    OS::SleepMilliseconds(joined ? 5 : 100);
    return true;
}

void CBaseServer::ProcessConsoleInput()
{
    // Lines posted while these run are handled too: the queue is pumped until it stays empty.
    while (m_inputQueue.Pump([this](std::string& line) {
        if (!line.empty() && line.size() <= 255)
            RunConsoleLine(line);
    }) > 0) {
    }
}

void CBaseServer::OnProcess(const FrameTimeInfo& frame)
{
    CArgumentArray arguments;
    arguments.AddNumber(frame.m_dFrameTime);
    m_pOnProcess->Trigger(arguments);
}

void CBaseServer::UpdateTimers(double frameTime)
{
    m_pResourceMgr->GetTimers()->Update(frameTime);
}

void CBaseServer::RunConsoleLine(const std::string& line)
{
    // Typed lines speak as the console client, so "say" chats in its name.
    GetCommandHandlers()->ConsoleCommandOnly(line.c_str(), GetConsoleClient(), true);
}

bool CBaseServer::LoadModules(CServerConfiguration& config)
{
    CElementChunk* modules = config.GetElement("modules");
    if (!modules)
        return true;
    Context* context = GetContext();
    context->Log("Loading modules...");
    int seen = 0;
    int failed = 0;
    for (CElementChunk* module : CServerConfiguration::GetChildren(modules, "module")) {
        ++seen;
        ++failed;
        const char* source = module->Attribute("src");
        if (!source) {
            context->LogError("Error loading module: attribute src not defined!");
            continue;
        }
        // This build carries no native-module interface: say so rather than pretend to load.
        context->LogWarn("Native modules are not supported by this build of the server");
        context->LogError("Error loading module %s!", source);
    }
    context->LogMessage(failed ? LOG_WARN : LOG_INFO, "%i/%i Modules loaded, %i failed", seen - failed, seen, failed);
    return true;
}

bool CBaseServer::StartRemoteConsole()
{
    GetContext()->LogWarn("The remote console is not available in this build of the server; \"rcon\" is ignored");
    return true;
}

bool CBaseServer::StartHttpServer()
{
    GetContext()->LogWarn("The download server is not available in this build of the server; clients cannot "
                          "download client files");
    return true;
}
