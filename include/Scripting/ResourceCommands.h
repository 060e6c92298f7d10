#pragma once
// The console commands that drive resources: start, stop, restart, stopall, refresh, dumpdoc.
// The server registers them under those names; each answers through the issuing console's logger.

#include "Scripting/CommandHandlers.h"

namespace Corvane3D {

class CResourceMgr;

class CResourceCommandHandler : public CCommandHandler {
public:
    explicit CResourceCommandHandler(CResourceMgr* manager) : m_pResourceMgr(manager) {}

protected:
    CResourceMgr* m_pResourceMgr;
};

#define CORVANE_RESOURCE_COMMAND(Name)                                                                               \
    class Name : public CResourceCommandHandler {                                                                    \
    public:                                                                                                          \
        using CResourceCommandHandler::CResourceCommandHandler;                                                      \
        void Execute(const char* name, const char* arguments, CNetMachine* client, Logger* logger) override;         \
    };

CORVANE_RESOURCE_COMMAND(CStartResourceCommandHandler)
CORVANE_RESOURCE_COMMAND(CStopResourceCommandHandler)
CORVANE_RESOURCE_COMMAND(CRestartResourceCommandHandler)
CORVANE_RESOURCE_COMMAND(CStopAllResourcesCommandHandler)
CORVANE_RESOURCE_COMMAND(CRefreshResourcesCommandHandler)
CORVANE_RESOURCE_COMMAND(CDumpDocumentationCommandHandler)

#undef CORVANE_RESOURCE_COMMAND

// Registers the six commands on the manager's command table.
void RegisterResourceCommands(CResourceMgr* manager);

} // namespace Corvane3D
