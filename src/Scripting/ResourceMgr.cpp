#include "Scripting/ResourceMgr.h"

#include "Engine/CRC32Hash.h"
#include "Engine/Context.h"
#include "Engine/FileSystem.h"
#include "ScriptingLog.h"

#include <cstdarg>

#include <strings.h>

#include <cstring>
#include <string>

namespace Corvane3D {

namespace {

uint32_t NameKey(const char* name)
{
    return CRC32Hash::HashString(name ? name : "", true);
}

// What the discovery callback collects during one enumeration of /resources.
struct tDiscovery {
    CResourceMgr* m_pManager;
    bool m_bVerbose;
    std::unordered_set<uint32_t> m_Seen;
};

} // namespace

void Say(int level, const char* format, ...)
{
    Context* context = GetContext();
    if (!context)
        return;
    va_list arguments;
    va_start(arguments, format);
    context->LogMessageV(level, format, arguments);
    va_end(arguments);
}

CResourceMgr::CResourceMgr(Context* context)
    : m_pContext(context),
      m_pScripting(std::make_unique<CScripting>()),
      m_pEventHandlers(std::make_unique<EventHandlers::CEventHandlers>(m_pScripting.get())),
      m_pCommandHandlers(std::make_unique<CCommandHandlers>(m_pScripting.get())),
      m_pDefineHandlers(std::make_unique<CDefineHandlers>()),
      m_pTimers(std::make_unique<TimerHandlers::CTimerHandlers>(m_pScripting.get()))
{
    m_pScripting->SetDefineHandlers(m_pDefineHandlers.get());
    m_pEventHandlers->SetCallObserver(this);
    m_pCommandHandlers->SetCallObserver(this);
    m_pTimers->SetCallObserver(this);
    m_pCommandHandlers->SetPrivilegeCheck([](CResource* resource) { return resource && resource->IsPrivileged(); });
    Defines();
}

CResourceMgr::~CResourceMgr()
{
    ClearAllResources();
    // Resources that something still holds (a script wrapper) must not reach the tables below
    // once they are gone.
    for (CResource* resource : m_LiveResources)
        resource->DetachFromManager();
    m_LiveResources.clear();
    m_pOnResourceStart = nullptr;
    m_pOnResourceStop = nullptr;
    // Handler tables hold script functions of the engines: drop them before the engines go.
    m_pTimers->RemoveTimers(nullptr);
    m_pEventHandlers->RemoveHandlers(nullptr);
    m_pEventHandlers->SetCallObserver(nullptr);
    m_pCommandHandlers->SetCallObserver(nullptr);
    m_pTimers->SetCallObserver(nullptr);
    CollectGarbage();
    m_pTimers.reset();
    m_pCommandHandlers.reset();
    m_pEventHandlers.reset();
    m_pScripting->SetDefineHandlers(nullptr);
    m_pScripting.reset();
    m_pDefineHandlers.reset();
}

CFileSystem* CResourceMgr::GetFileSystem() const
{
    return m_pContext ? m_pContext->GetFileSystem() : nullptr;
}

CResource* CResourceMgr::FindResourceByName(const char* name) const
{
    if (!name)
        return nullptr;
    auto found = m_Resources.find(NameKey(name));
    return found == m_Resources.end() ? nullptr : found->second.Get();
}

std::vector<Strong<CResource>> CResourceMgr::GetResources() const
{
    std::vector<Strong<CResource>> resources;
    resources.reserve(m_Resources.size());
    for (const auto& [key, resource] : m_Resources)
        resources.push_back(resource);
    return resources;
}

Strong<CResource> CResourceMgr::NewResource(const char* name)
{
    return MakeStrong<CResource>(this, name);
}

CResource* CResourceMgr::EnsureLoadedResource(const char* name, const char* directoryPath, const char* archivePath,
                                              bool verbose)
{
    if (!name || !*name)
        return nullptr;
    const std::string directory = directoryPath ? directoryPath : "";
    const std::string archive = archivePath ? archivePath : "";
    const uint32_t key = NameKey(name);
    auto found = m_Resources.find(key);
    if (found != m_Resources.end()) {
        found->second->SetPaths(directory, archive);
        return found->second.Get();
    }
    Strong<CResource> resource = NewResource(name);
    if (!resource)
        return nullptr;
    resource->SetPaths(directory, archive);
    CResource* raw = resource.Get();
    m_Resources.emplace(key, std::move(resource));
    if (verbose)
        Say(LOG_INFO, "Found new resource %s", name);
    return raw;
}

bool CResourceMgr::DiscoverEntry(const CFileMgr::tDirectoryEntry& entry, void* user)
{
    auto* discovery = static_cast<tDiscovery*>(user);
    const std::string name = entry.m_name ? entry.m_name : "";
    if (name.empty() || name[0] == '.')
        return true;
    std::string path = entry.m_directory ? entry.m_directory : "";
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    if (entry.m_isDirectory) {
        if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
            CFileSystem* fileSystem = discovery->m_pManager->GetFileSystem();
            return !fileSystem || fileSystem->Enumerate(path.c_str(), DiscoverEntry, user);
        }
        discovery->m_Seen.insert(NameKey(name.c_str()));
        discovery->m_pManager->EnsureLoadedResource(name.c_str(), path.c_str(), "", discovery->m_bVerbose);
        return true;
    }
    const size_t dot = name.rfind('.');
    if (entry.m_isFile && dot != std::string::npos && dot > 0 && strcasecmp(name.c_str() + dot + 1, "tar") == 0) {
        const std::string resourceName = name.substr(0, dot);
        discovery->m_Seen.insert(NameKey(resourceName.c_str()));
        discovery->m_pManager->EnsureLoadedResource(resourceName.c_str(), "", path.c_str(), discovery->m_bVerbose);
    }
    return true;
}

bool CResourceMgr::RefreshResources(bool verbose)
{
    // A script run by a stop below could ask for another refresh of the map being walked.
    if (m_bRefreshing)
        return false;
    m_bRefreshing = true;
    Say(LOG_INFO, "Scanning resources...");
    for (const Strong<CResource>& resource : GetResources())
        resource->SetPaths("", "");

    tDiscovery discovery{this, verbose, {}};
    CFileSystem* fileSystem = GetFileSystem();
    const bool completed = fileSystem && fileSystem->Enumerate(ResourcesFolder, DiscoverEntry, &discovery);
    if (completed) {
        for (const Strong<CResource>& resource : GetResources()) {
            if (discovery.m_Seen.count(NameKey(resource->GetName().c_str())))
                continue;
            if (verbose)
                Say(LOG_INFO, "Removing resource %s", resource->GetName().c_str());
            m_Resources.erase(NameKey(resource->GetName().c_str()));
            if (resource->IsStarted())
                resource->Stop(false, true);
        }
    }

    Say(LOG_INFO, "Loading resources...");
    for (const Strong<CResource>& resource : GetResources()) {
        if (resource->LoadMeta(m_bServerSide))
            continue;
        Say(LOG_WARN, "Failed to load resource %s!", resource->GetName().c_str());
        m_Resources.erase(NameKey(resource->GetName().c_str()));
        if (resource->IsStarted())
            resource->Stop(false, true);
    }
    Say(LOG_INFO, "%d resources in the resource cache", int(m_Resources.size()));
    CollectGarbage();
    m_bRefreshing = false;
    return true;
}

void CResourceMgr::ClearAllResources()
{
    for (const Strong<CResource>& resource : GetResources()) {
        if (resource->IsStarted())
            resource->Stop(false, true);
    }
    m_Resources.clear();
    CollectGarbage();
}

void CResourceMgr::CreateResourceEventTypes()
{
    using EventHandlers::CEventType;
    CEventType* start = m_pEventHandlers->GetEventType("OnResourceStart");
    if (!start)
        start = m_pEventHandlers->CreateEventType("OnResourceStart", "Called when a resource starts", 1, true);
    CEventType* stop = m_pEventHandlers->GetEventType("OnResourceStop");
    if (!stop)
        stop = m_pEventHandlers->CreateEventType("OnResourceStop", "Called when a resource stops", 2, true);
    // Handlers may be bound to the resource they care about.
    if (start)
        start->SetSourceIndex(0);
    if (stop)
        stop->SetSourceIndex(0);
    m_pOnResourceStart = start;
    m_pOnResourceStop = stop;
}

void CResourceMgr::CollectGarbage()
{
    if (m_pScripting)
        m_pScripting->CollectGarbage();
}

void CResourceMgr::EnterResource(CResource* resource)
{
    resource->AddRef();
    resource->EnterCode();
}

void CResourceMgr::LeaveResource(CResource* resource)
{
    resource->LeaveCode();
    resource->Release();
}

} // namespace Corvane3D
