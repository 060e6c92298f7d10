#pragma once
// Owns the scripting core and its handler tables, finds the resources under /resources, keeps one
// CResource per name and drives them from console commands and scripts.

#include "Engine/FileMgr.h"
#include "Engine/Scripting.h"
#include "Scripting/CommandHandlers.h"
#include "Scripting/DefineHandlers.h"
#include "Scripting/EventHandlers.h"
#include "Scripting/HandlerTable.h"
#include "Scripting/Resource.h"
#include "Scripting/TimerHandlers.h"

#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace Corvane3D {

class CElementChunk;
class CFileSystem;
class Context;

class CResourceMgr : public IResourceCallObserver {
public:
    static constexpr const char* ResourcesFolder = "/resources";

    explicit CResourceMgr(Context* context);
    ~CResourceMgr() override;
    CResourceMgr(const CResourceMgr&) = delete;
    CResourceMgr& operator=(const CResourceMgr&) = delete;

    Context* GetContext() const { return m_pContext; }
    // The context's virtual file system; null without one.
    CFileSystem* GetFileSystem() const;
    CScripting* GetScripting() const { return m_pScripting.get(); }
    EventHandlers::CEventHandlers* GetEventHandlers() const { return m_pEventHandlers.get(); }
    CCommandHandlers* GetCommandHandlers() const { return m_pCommandHandlers.get(); }
    CDefineHandlers* GetDefineHandlers() const { return m_pDefineHandlers.get(); }
    TimerHandlers::CTimerHandlers* GetTimers() const { return m_pTimers.get(); }

    // Case-insensitive; null when there is none.
    CResource* FindResourceByName(const char* name) const;
    // Every resource in map order, held for the caller: scripts run while a caller walks it may
    // change the map.
    std::vector<Strong<CResource>> GetResources() const;
    size_t GetResourceCount() const { return m_Resources.size(); }

    // The resource of that name with these paths, made when it is new.
    CResource* EnsureLoadedResource(const char* name, const char* directoryPath, const char* archivePath,
                                    bool verbose);
    // Rescans /resources and reloads every meta file; false when a refresh is already running.
    bool RefreshResources(bool verbose);
    // Stops (forced) and releases every resource.
    void ClearAllResources();

    // The script functions and the class "Resource".
    void RegisterFunctions(CScripting* scripting);
    // The built-in defines: key states, scan and key codes, key modifiers, seek origins, log types
    // and colours.
    void Defines();
    // "OnResourceStart" and "OnResourceStop": taken over when they exist, made otherwise.
    void CreateResourceEventTypes();
    EventHandlers::CEventType* GetResourceStartEvent() const { return m_pOnResourceStart.Get(); }
    EventHandlers::CEventType* GetResourceStopEvent() const { return m_pOnResourceStop.Get(); }

    // Whether starts run the server scripts and meta loading publishes client files.
    bool IsServerSide() const { return m_bServerSide; }
    void SetServerSide(bool serverSide) { m_bServerSide = serverSide; }
    ReflectedClass* GetResourceClass() const { return m_pResourceClass; }

    // Writes Documentation/{Defines,EventTypes,Commands,Documentation}.xml in the real folder of
    // the virtual root; false when there is none or a file cannot be written.
    bool DumpDocumentation();

    // Every registered engine collects now.
    void CollectGarbage();

    // Overridden by the networked managers.
    virtual Strong<CResource> NewResource(const char* name);
    // Tells the clients about a resource's new state; nothing in the base.
    virtual void RefreshResourceState(CResource* resource) { (void)resource; }
    // Removes the objects a stopped resource's scripts made; nothing in the base.
    virtual void RemoveThingsAssociatedWithResource(CResource* resource) { (void)resource; }
    // Loads a map of a starting resource; the base has nothing to load maps into.
    virtual bool LoadMap(CElementChunk* map, CResource* resource)
    {
        (void)map;
        (void)resource;
        return true;
    }

    void EnterResource(CResource* resource) override;
    void LeaveResource(CResource* resource) override;

private:
    friend class CResource;
    static bool DiscoverEntry(const CFileMgr::tDirectoryEntry& entry, void* user);

    Context* m_pContext;
    // Declared first so it is destroyed last: the tables register natives in it.
    std::unique_ptr<CScripting> m_pScripting;
    std::unique_ptr<EventHandlers::CEventHandlers> m_pEventHandlers;
    std::unique_ptr<CCommandHandlers> m_pCommandHandlers;
    std::unique_ptr<CDefineHandlers> m_pDefineHandlers;
    std::unique_ptr<TimerHandlers::CTimerHandlers> m_pTimers;
    ReflectedClass* m_pResourceClass = nullptr;
    Strong<EventHandlers::CEventType> m_pOnResourceStart;
    Strong<EventHandlers::CEventType> m_pOnResourceStop;
    std::unordered_map<uint32_t, Strong<CResource>> m_Resources;
    // Every resource object alive, in the map or not, so that the manager can cut them loose
    // when it goes first.
    std::unordered_set<CResource*> m_LiveResources;
    bool m_bServerSide = false;
    bool m_bRefreshing = false;
};

} // namespace Corvane3D
