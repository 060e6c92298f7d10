// Console commands built into every server.

#include "BaseServer.h"

#include "Scripting/CommandHandlers.h"

using namespace Corvane3D;

namespace {

// Answers lines that name no command; clients other than the console get no answer.
class CUnhandledCommandHandler2 : public CUnhandledCommandHandler {
public:
    explicit CUnhandledCommandHandler2(CBaseServer* server) : m_pServer(server) {}

protected:
    bool IsConsole(CNetMachine* client) const override { return m_pServer->IsConsoleClient(client); }

private:
    CBaseServer* m_pServer;
};

} // namespace

void CBaseServer::RegisterConsoleCommands()
{
    CCommandHandlers* commands = GetCommandHandlers();
    auto exit = MakeStrong<CNativeCommandHandler>([this](const char*, const char*, CNetMachine*, Logger*) {
        RequestStop();
    });
    commands->AddCommandHandler(exit, "quit");
    commands->AddCommandHandler(exit, "exit");
    commands->AddCommandHandler(
        MakeStrong<CNativeCommandHandler>([this](const char*, const char* arguments, CNetMachine* speaker, Logger*) {
            // Without a speaker (the start-up file, the remote console) there is nobody to chat as.
            if (speaker)
                UserChat(speaker, arguments ? arguments : "");
        }),
        "say");
    commands->SetUnhandledHandler(MakeStrong<CUnhandledCommandHandler2>(this));
}
