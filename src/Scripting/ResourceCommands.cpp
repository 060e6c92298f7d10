#include "Scripting/ResourceCommands.h"

#include "Scripting/ResourceMgr.h"

namespace Corvane3D {

namespace {

// The resource named by the arguments, or null after answering why there is none.
CResource* FindNamed(CResourceMgr* manager, const char* arguments, Logger* logger)
{
    if (!arguments || !*arguments) {
        logger->LogFormatted(LOG_ERROR, "No resource specified!");
        return nullptr;
    }
    CResource* resource = manager->FindResourceByName(arguments);
    if (!resource)
        logger->LogFormatted(LOG_ERROR, "Unable to find the resource %s!", arguments);
    return resource;
}

// A console start or restart of a folder resource reads its meta file again first.
class CReloadMetaForCall {
public:
    explicit CReloadMetaForCall(CResource* resource)
        : m_pResource(resource), m_bOld(resource->GetReloadMeta())
    {
        if (!resource->IsArchive())
            resource->SetReloadMeta(true);
    }
    ~CReloadMetaForCall() { m_pResource->SetReloadMeta(m_bOld); }
    CReloadMetaForCall(const CReloadMetaForCall&) = delete;
    CReloadMetaForCall& operator=(const CReloadMetaForCall&) = delete;

private:
    Strong<CResource> m_pResource;
    bool m_bOld;
};

// Tells the clients now, or when a stop that waits for the resource's code has been done.
void RefreshStateWhenDone(CResourceMgr* manager, CResource* resource)
{
    if (resource->HasPendingAction())
        resource->NotifyWhenPendingDone();
    else
        manager->RefreshResourceState(resource);
}

} // namespace

void CStartResourceCommandHandler::Execute(const char*, const char* arguments, CNetMachine*, Logger* logger)
{
    Strong<CResource> resource = FindNamed(m_pResourceMgr, arguments, logger);
    if (!resource)
        return;
    bool started = false;
    if (!resource->IsStarted() && !resource->IsStarting()) {
        {
            CReloadMetaForCall reload(resource);
            started = resource->Start();
        }
        if (started)
            m_pResourceMgr->RefreshResourceState(resource);
    }
    if (started)
        logger->LogFormatted(LOG_INFO, "Started resource %s", resource->GetName().c_str());
    else
        logger->LogFormatted(LOG_ERROR, "Failed to start resource %s", resource->GetName().c_str());
    m_pResourceMgr->CollectGarbage();
}

void CStopResourceCommandHandler::Execute(const char*, const char* arguments, CNetMachine*, Logger* logger)
{
    Strong<CResource> resource = FindNamed(m_pResourceMgr, arguments, logger);
    if (!resource)
        return;
    bool stopped = false;
    if (resource->IsStarted()) {
        stopped = resource->Stop(false, false);
        if (stopped)
            RefreshStateWhenDone(m_pResourceMgr, resource);
    }
    if (stopped)
        logger->LogFormatted(LOG_INFO, "Stopped resource %s", resource->GetName().c_str());
    else
        logger->LogFormatted(LOG_ERROR, "Failed to stop resource %s", resource->GetName().c_str());
    m_pResourceMgr->CollectGarbage();
}

void CRestartResourceCommandHandler::Execute(const char*, const char* arguments, CNetMachine*, Logger* logger)
{
    Strong<CResource> resource = FindNamed(m_pResourceMgr, arguments, logger);
    if (!resource)
        return;
    bool restarted = false;
    if (resource->IsStarted()) {
        {
            CReloadMetaForCall reload(resource);
            restarted = resource->Restart();
        }
        RefreshStateWhenDone(m_pResourceMgr, resource);
    }
    if (restarted)
        logger->LogFormatted(LOG_INFO, "Restarted resource %s", resource->GetName().c_str());
    else
        logger->LogFormatted(LOG_ERROR, "Failed to restart resource %s", resource->GetName().c_str());
    m_pResourceMgr->CollectGarbage();
}

void CStopAllResourcesCommandHandler::Execute(const char*, const char*, CNetMachine*, Logger* logger)
{
    int stopped = 0;
    for (const Strong<CResource>& resource : m_pResourceMgr->GetResources()) {
        if (resource->IsStarted() && resource->Stop(false, true))
            ++stopped;
    }
    logger->LogFormatted(LOG_INFO, "Stopped %d resources", stopped);
    m_pResourceMgr->CollectGarbage();
}

void CRefreshResourcesCommandHandler::Execute(const char*, const char*, CNetMachine*, Logger*)
{
    m_pResourceMgr->RefreshResources(true);
}

void CDumpDocumentationCommandHandler::Execute(const char*, const char*, CNetMachine*, Logger* logger)
{
    if (m_pResourceMgr->DumpDocumentation())
        logger->LogFormatted(LOG_INFO, "Documentation dumped");
}

void RegisterResourceCommands(CResourceMgr* manager)
{
    CCommandHandlers* commands = manager->GetCommandHandlers();
    commands->AddCommandHandler(MakeStrong<CStartResourceCommandHandler>(manager), "start");
    commands->AddCommandHandler(MakeStrong<CStopResourceCommandHandler>(manager), "stop");
    commands->AddCommandHandler(MakeStrong<CStopAllResourcesCommandHandler>(manager), "stopall");
    commands->AddCommandHandler(MakeStrong<CRestartResourceCommandHandler>(manager), "restart");
    commands->AddCommandHandler(MakeStrong<CRefreshResourcesCommandHandler>(manager), "refresh");
    commands->AddCommandHandler(MakeStrong<CDumpDocumentationCommandHandler>(manager), "dumpdoc");
}

} // namespace Corvane3D
