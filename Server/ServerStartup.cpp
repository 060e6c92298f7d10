#include "ServerStartup.h"

#include "Engine/Context.h"
#include "Engine/CorvaneArguments.h"
#include "Engine/FileSystem.h"
#include "Engine/Stream.h"
#include "Engine/TextStream.h"

using namespace Corvane3D;

namespace {

// The players the client table can hold: slot 255 is the console's.
constexpr int MaxClientSlots = 255;

void ApplyCommandLine(CRovaServer& server, const CCommandLine& commandLine)
{
    CServerSettings& s = server.GetSettings();
    if (commandLine.m_port)
        s.m_port = *commandLine.m_port;
    if (commandLine.m_httpPort)
        s.m_httpPort = *commandLine.m_httpPort;
    if (commandLine.m_rconPort)
        s.m_rconPort = *commandLine.m_rconPort;
    if (commandLine.m_maxPlayers) {
        int players = *commandLine.m_maxPlayers;
        // The command line may go beyond server.xml's limit of 127, but never beyond the slots
        // that exist: more would index past the client table.
        if (players > MaxClientSlots || players < 0) {
            GetContext()->LogWarn("-maxplayers %d is more than the server can hold, using %d", players, MaxClientSlots);
            players = MaxClientSlots;
        }
        s.m_maxPlayers = players;
    }
    if (commandLine.m_bindIP)
        s.m_bindIP = *commandLine.m_bindIP;
    if (commandLine.m_multithreaded)
        s.m_multithreaded = *commandLine.m_multithreaded;
}

// Runs the start-up command file: each line ended by a line feed is run as console input; a
// last line without one is not. Lines longer than 255 characters are skipped whole.
void RunStartupCommands(CRovaServer& server)
{
    CFileSystem* fileSystem = GetContext()->GetFileSystem();
    Strong<Stream> file = fileSystem ? fileSystem->Open("/commandline.txt", false) : nullptr;
    if (!file)
        return;
    CTextReader reader(file);
    std::string line;
    bool tooLong = false;
    constexpr uint32_t NoCharacter = 0xFFFFFFFFu;
    for (;;) {
        uint32_t character = NoCharacter;
        if (!reader.ReadCharacter(character) || character == 0)
            break;
        // A stray byte is consumed without giving a character; it adds nothing.
        if (character == NoCharacter || character == '\r')
            continue;
        if (character == '\n') {
            if (!tooLong)
                server.GetCommandHandlers()->ConsoleCommand(line.c_str(), true);
            line.clear();
            tooLong = false;
            continue;
        }
        if (line.size() >= 255) {
            tooLong = true;
            continue;
        }
        line.push_back(character > 255 ? '?' : char(character));
    }
}

// Starts the resources of the configuration in file order, then forgets the list.
void StartConfiguredResources(CRovaServer& server)
{
    Context* context = GetContext();
    context->Log("Starting resources...");
    std::vector<std::string>& names = server.GetStartList();
    int started = 0;
    for (const std::string& name : names) {
        Strong<CResource> resource = server.GetResourceMgr()->FindResourceByName(name.c_str());
        if (!resource)
            context->LogError("Error loading resource %s: resource not found!", name.c_str());
        else if (!resource->Start())
            context->LogError("Error loading resource %s!", name.c_str());
        else
            ++started;
    }
    const int total = int(names.size());
    const int failed = total - started;
    context->LogMessage(failed ? LOG_WARN : LOG_INFO, "%i/%i Resources loaded, %i failed", started, total, failed);
    names.clear();
}

} // namespace

bool StartServer(CRovaServer& server, const CCommandLine& commandLine)
{
    Context* context = GetContext();
    server.GetRules().SetRule("Version", CBaseServer::ServerVersion);

    Strong<CStandardStream> file = CStandardStream::Open(commandLine.m_configPath.c_str(), "rb");
    if (!file) {
        context->LogError("I can't start because server.xml doesn't exist...");
        return false;
    }
    std::string reason;
    std::unique_ptr<CElementChunk> root = CElementChunk::Load(file, reason);
    file = nullptr;
    if (!root) {
        context->LogError("I can't start because server.xml failed to parse...");
        if (!reason.empty())
            context->LogError("%s: %s", commandLine.m_configPath.c_str(), reason.c_str());
        return false;
    }
    CServerConfiguration config(std::move(root));
    if (!server.ParseConfig(config))
        return false;
    ApplyCommandLine(server, commandLine);

    const CServerSettings& s = server.GetSettings();
    context->Log("Server is starting...");
    context->Log("Multithreading: %s", s.m_multithreaded ? "enabled" : "disabled");
    server.ResetFrameClock();

    if (!server.InitAsServer(s.m_port, s.m_bindIP.c_str(), s.m_multithreaded)) {
        context->LogError("Failed to start the server!");
        return false;
    }
    context->Log("Server is now listening on port %hu max players %d...", s.m_port, s.m_maxPlayers);
    if (s.m_rcon && !server.StartRemoteConsole())
        return false;
    if (s.m_httpServer && !server.StartHttpServer())
        return false;
    if (s.m_serverBrowser)
        context->LogWarn("Server listing is not available in this build of the server; \"serverbrowser\" is ignored");

    server.CreateConsoleClient();
    StartConfiguredResources(server);
    server.TriggerEvent("OnServerStart", CArgumentArray());
    RunStartupCommands(server);
    if (commandLine.m_dumpDoc)
        server.GetCommandHandlers()->ConsoleCommand("/dumpdoc", true);
    // Without it the server simply runs without console input.
    if (!commandLine.m_noInput)
        server.StartInputThread();
    return true;
}

void StopServer(CRovaServer& server)
{
    // Detached, not joined: it may be waiting for a line; cut off, it ends by itself.
    server.StopInputThread();
    GetContext()->Log("Server shutting down...");
    server.GetInputQueue().Clear();
}
