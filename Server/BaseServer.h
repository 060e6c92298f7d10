#pragma once
// The server every game builds on: configuration, the frame loop, bans, console variables,
// rules, and the message handling shared by all games.

#include "BanList.h"
#include "ConsoleInput.h"
#include "FrameClock.h"
#include "PasswordThrottle.h"
#include "ServerConfiguration.h"
#include "ServerRules.h"
#include "ServerResourceMgr.h"
#include "ServerSettings.h"

#include "Engine/CVarSystem.h"
#include "Engine/Threading.h"
#include "Multiplayer/NetMachines.h"
#include "Multiplayer/NetObjectMgr.h"
#include "Network/NetServerCompatibilityShim.h"

#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

class CBaseServer : public Corvane3D::CNetServerCompatibilityShim {
public:
    static constexpr const char* ServerVersion = "1.7.3";

    CBaseServer();
    // Sends, disconnects and address look-ups go to `sender` and there is no socket: tests drive
    // the connection events by hand.
    explicit CBaseServer(Corvane3D::INetSender& sender);
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
    virtual size_t GetJoinedPlayerCount() const;

    // The connection lifecycle: new peers, join requests, client ready, quit, departures.
    bool OnPlayerConnect(Corvane3D::NetPeer peer) override;
    void OnPlayerDisconnect(Corvane3D::NetPeer peer, uint32_t reason) override;
    void ProcessPacket(Corvane3D::NetPeer peer, uint32_t id, Corvane3D::Stream& body) override;

    // The console's own client in slot 255, made once at start-up.
    void CreateConsoleClient();
    Corvane3D::CNetMachine* GetConsoleClient() const { return m_pConsoleClient.Get(); }
    // Runs the client's departure with `reason` (as a quit does) and ends its connection with it.
    void DisconnectClient(Corvane3D::CNetMachine* client, uint32_t reason);
    Corvane3D::CNetMachines& GetMachines() { return m_machines; }
    Corvane3D::CNetObjectMgr* GetManager() const { return m_pManager.get(); }
    // Accepted clients, joined or not; the console is not one.
    size_t GetPlayerCount() const { return m_playerCount; }

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

    // A message from `peer`, whose client (null for none) the caller has already looked up, so
    // that the slot search runs once per message however many classes see it.
    void ProcessClientPacket(Corvane3D::NetPeer peer, Corvane3D::CNetMachine* client, uint32_t id,
                             Corvane3D::Stream& body);

    // Steps of the frame that later subsystems take over. Each runs at its place in the frame.
    virtual void UpdateTimers(double frameTime);
    virtual void ServiceScriptRequests() {}

public:
    // Side services opened at start-up after the game port. False stops the start after the
    // service logged why. This build has no remote console, download server or listing
    // announcer yet: each says so when the configuration asks for it.
    virtual bool StartRemoteConsole();
    virtual bool StartHttpServer();

protected:
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
    virtual bool DefineClasses();
    virtual void RefreshResources();
    // Applies a resource's "privileged" attribute when the resource exists.
    virtual void SetResourcePrivileged(const char* name, const char* privileged);

    // Makes the client object of a new connection (and of the console); games make their own class.
    virtual Corvane3D::Strong<Corvane3D::CNetMachine> NewMachine(Corvane3D::CNetObjectMgr* manager);
    // Game hooks of the join sequence: after OnPlayerJoin is raised, and before OnPlayerJoined is.
    virtual void OnPlayerJoin(Corvane3D::CNetMachine* client) { (void)client; }
    virtual void OnPlayerJoined(Corvane3D::CNetMachine* client) { (void)client; }
    // Message 8: the running resources that offer scripts or files to clients.
    virtual void SendResourceList(Corvane3D::CNetMachine* client);

    // The "server" namespace natives of bans, rules, console variables and settings.
    void RegisterServerFunctions(Corvane3D::CScripting& scripting);
    // "quit", "exit", "say", the resource commands and the answer to lines that name no command.
    void RegisterConsoleCommands();

public:
    // The console's own client (slot 255); commands run without a speaker count as the console's.
    virtual bool IsConsoleClient(Corvane3D::CNetMachine* client) const;
    // Chat in a client's name; the console's chat goes to every client.
    virtual void UserChat(Corvane3D::CNetMachine* speaker, const char* text)
    {
        (void)speaker;
        (void)text;
    }

protected:

private:
    void ProcessConsoleInput();
    void Construct();

    // The join request, its checks in order and the acceptance.
    void HandleJoinRequest(Corvane3D::NetPeer peer, Corvane3D::Stream& body);
    bool CheckPassword(const std::string& address, const std::string& password);
    bool IsNicknameInUse(const std::string& nickname) const;
    void AcceptClient(Corvane3D::NetPeer peer, const Corvane3D::CIPAddress& address, const std::string& nickname,
                      int game, int32_t slot);
    void HandleClientReady(Corvane3D::CNetMachine* client);
    void HandleQuit(Corvane3D::CNetMachine* client, Corvane3D::Stream& body);
    // Ends a peer that has no client; nothing more it sends is handled.
    void RefusePeer(Corvane3D::NetPeer peer, uint32_t reason);
    // Still in its slot: a script may have disconnected it while an event ran.
    bool IsInSlot(const Corvane3D::CNetMachine* client) const;

    // Owns the scripting core and every handler table; destroyed before the transport.
    std::unique_ptr<CServerResourceMgr> m_pResourceMgr;
    Corvane3D::EventHandlers::CEventType* m_pOnProcess = nullptr;

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

    // Client slots; the console's is 255. Released from 255 down to 0 at shutdown.
    Corvane3D::CNetMachines m_machines;
    Corvane3D::Strong<Corvane3D::CNetMachine> m_pConsoleClient;
    std::unique_ptr<Corvane3D::CNetObjectMgr> m_pManager;
    size_t m_playerCount = 0;
    // Peers refused at connect or join; whatever else they send before they are gone is dropped.
    std::unordered_set<Corvane3D::NetPeer> m_refusedPeers;
    CPasswordThrottle m_passwordThrottle;

    CFrameClock m_frameClock;
    uint32_t m_nextStreamTime = 0;
    uint32_t m_nextSyncTime = 0;
};
