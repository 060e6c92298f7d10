#pragma once
// The server every game builds on: configuration, the frame loop, bans, console variables,
// rules, and the message handling shared by all games.

#include "BanList.h"
#include "ConsoleInput.h"
#include "FrameClock.h"
#include "ServerConfiguration.h"
#include "ServerRules.h"
#include "ServerResourceMgr.h"
#include "ServerSettings.h"

#include "Engine/CVarSystem.h"
#include "Engine/Threading.h"
#include "Network/NetServerCompatibilityShim.h"

#include <memory>
#include <string>
#include <vector>

class CBaseServer : public Corvane3D::CNetServerCompatibilityShim {
public:
    static constexpr const char* ServerVersion = "1.7.3";

    CBaseServer();
    ~CBaseServer() override;

    // Reads the settings every server has; false stops start-up after one logged error line.
    virtual bool ParseConfig(CServerConfiguration& config);

    // Runs frames until the quit mark or the stop flag is seen.
    void MainLoop();
    // One frame; false when the loop must end. Public so tests can step the loop.
    bool ProcessFrame();

    // Quit commands and the script shutdown call: both the mark and the flag.
    void RequestStop();
    Corvane3D::Signalable& GetStopFlag() { return m_stopFlag; }

    void ResetFrameClock();
    const FrameTimeInfo& GetFrameTimeInfo() const { return m_frameClock.GetInfo(); }

    CServerSettings& GetSettings() { return m_settings; }
    CBanList& GetBanList() { return m_banList; }
    Corvane3D::CVarSystem& GetCVars() { return m_cvars; }
    CServerRules& GetRules() { return m_rules; }
    Corvane3D::CLockable& GetLock() { return m_lock; }

    // Resource names of the configuration, in file order; started by the entry point.
    std::vector<std::string>& GetStartList() { return m_startList; }

    // Console lines handed over by the input thread; run by the frame after the lock is released.
    Corvane3D::CPumpedEventLoop<std::string>& GetInputQueue() { return m_inputQueue; }
    // The console input thread; false when it cannot start (the server then runs without it).
    bool StartInputThread();
    // Cuts the thread off from the queue and lets it end by itself.
    void StopInputThread();
    bool HasInputThread() const { return m_pInputThread != nullptr; }

    // Clients that have joined (sent "client ready"); streaming and sync run only while there are.
    virtual size_t GetJoinedPlayerCount() const { return 0; }

    CServerResourceMgr* GetResourceMgr() const { return m_pResourceMgr.get(); }
    Corvane3D::CScripting* GetScripting() const { return m_pResourceMgr->GetScripting(); }
    Corvane3D::EventHandlers::CEventHandlers* GetEventHandlers() const { return m_pResourceMgr->GetEventHandlers(); }
    Corvane3D::CCommandHandlers* GetCommandHandlers() const { return m_pResourceMgr->GetCommandHandlers(); }

    // Raises a server event by name with the given arguments; false when no handler ran.
    bool TriggerEvent(const char* name, const Corvane3D::CArgumentArray& arguments);
    bool TriggerCancellableEvent(const char* name, const Corvane3D::CArgumentArray& arguments, bool& prevented);

    // Message 30, every console variable, to one client or (with a null peer) to everyone.
    void SendCVars(Corvane3D::NetPeer peer);

protected:
    // Per-frame work of the game; the base raises nothing yet beyond what the loop does itself.
    virtual void OnProcess(const FrameTimeInfo& frame);

    // Steps of the frame that later subsystems take over. Each runs at its place in the frame.
    virtual void UpdateTimers(double frameTime);
    virtual void ServiceScriptRequests() {}
    virtual void ServiceRemoteConsole() {}
    virtual void ServiceListing(double frameTime) { (void)frameTime; }
    virtual void StreamingPass() {}
    virtual void SyncPass() {}
    virtual void RefreshQuerySnapshot() {}
    // Runs one console line (non-empty, at most 255 characters).
    virtual void RunConsoleLine(const std::string& line);

    // Configuration steps that reach other subsystems.
    // Native modules of the "modules" element; false stops start-up.
    virtual bool LoadModules(CServerConfiguration& config);
    // Lets every script engine define the classes registered so far; false stops start-up.
    virtual bool DefineClasses() { return true; }
    virtual void RefreshResources();
    // Applies a resource's "privileged" attribute when the resource exists.
    virtual void SetResourcePrivileged(const char* name, const char* privileged);

    // The "server" namespace natives of bans, rules, console variables and settings.
    void RegisterServerFunctions(Corvane3D::CScripting& scripting);
    // "quit", "exit", "say", the resource commands and the answer to lines that name no command.
    void RegisterConsoleCommands();

public:
    // The console's own client (slot 255); null until start-up made it.
    virtual bool IsConsoleClient(Corvane3D::CNetMachine* client) const { return client == nullptr; }
    // Chat in a client's name; the console's chat goes to every client.
    virtual void UserChat(Corvane3D::CNetMachine* speaker, const char* text)
    {
        (void)speaker;
        (void)text;
    }

protected:

private:
    void ProcessConsoleInput();

    // Owns the scripting core and every handler table; destroyed before the transport.
    std::unique_ptr<CServerResourceMgr> m_pResourceMgr;

    Corvane3D::CLockable m_lock;
    Corvane3D::Signalable m_stopFlag;
    bool m_bQuit = false;

    CServerSettings m_settings;
    CBanList m_banList;
    Corvane3D::CVarSystem m_cvars;
    CServerRules m_rules;
    std::vector<std::string> m_startList;
    Corvane3D::CPumpedEventLoop<std::string> m_inputQueue;
    // Declared after the queue so that it is cut off from it before the queue goes.
    std::unique_ptr<CConsoleInput> m_pInputThread;

    CFrameClock m_frameClock;
    uint32_t m_nextStreamTime = 0;
    uint32_t m_nextSyncTime = 0;
};
