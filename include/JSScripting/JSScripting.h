#pragma once
// The JavaScript engine binding: one engine context shared by every environment, the reflected
// classes of the scripting core made into JavaScript classes once, and one global (a realm of its
// own) per resource.
//
//     CJSEngineLifetime engine;                       // held by the entry point for the process
//     scripting.AddVM(CJSScripting::GetId(), std::make_unique<CJSScripting>(&scripting));
//     CScriptEnvironment* env = scripting.GetVM(CJSScripting::EngineName)->CreateEnvironment("name");
//     env->m_pResource = resource;
//     env->DoFile(stream, "script.js");               // errors are logged; false when it failed
//     ...                                             // script functions reach natives as CFunction
//     env->Destroy();

#include "Engine/Scripting.h"
#include "Engine/ScriptingVM.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

struct JSContext;
class JSObject;
class JSTracer;

namespace JS {
class Realm;
class GCContext;
template <typename T>
class PersistentRooted;
} // namespace JS

namespace Corvane3D {

class CJSScriptEnvironment;
class CJSScriptingClass;
class CJSReferenceable;
class CJSJobQueue;
class CJSWatchdog;
class IJSRootHolder;
struct CJSClass;

// Owns the engine's process-wide start and shutdown. The entry point holds one for the whole
// process; the engine cannot start a context without it. Shutting the engine down is only done
// when starting it succeeded, and only once the last holder goes.
class CJSEngineLifetime {
public:
    CJSEngineLifetime();
    ~CJSEngineLifetime();
    CJSEngineLifetime(const CJSEngineLifetime&) = delete;
    CJSEngineLifetime& operator=(const CJSEngineLifetime&) = delete;

    // Whether this holder has the engine running.
    bool IsInitialised() const { return m_bHeld; }
    // Whether any holder has the engine running now.
    static bool IsActive();

private:
    bool m_bHeld = false;
};

class CJSScripting final : public CScriptingVM {
public:
    static constexpr const char* EngineName = "SpiderMonkey";
    // The engine's garbage-collected heap limit and nursery size.
    static constexpr uint32_t HeapLimitBytes = 32u * 1024u * 1024u;
    static constexpr uint32_t NurseryBytes = 16u * 1024u * 1024u;
    // Promise jobs of one turn may run this long before the rest are dropped, so a script that
    // awaits in an endless loop cannot hold the server.
    static constexpr uint32_t DefaultJobTimeLimitMs = 1000;
    // A script that runs this long without returning to native code is stopped.
    static constexpr uint32_t DefaultScriptTimeLimitMs = 10000;

    static uint32_t GetId() { return GetEngineId(EngineName); }

    // Does no engine work; the context is made by the first CreateEnvironment.
    explicit CJSScripting(CScripting* scripting);
    ~CJSScripting() override;
    CJSScripting(const CJSScripting&) = delete;
    CJSScripting& operator=(const CJSScripting&) = delete;

    bool DefineClasses() override;
    void CollectGarbage() override;
    // A new environment with one reference for the caller (released by Destroy), or null after
    // logging why.
    CScriptEnvironment* CreateEnvironment(const char* name) override;

    CScripting* GetScripting() const { return m_pScripting; }
    uint32_t GetEngineIdValue() const { return m_uiEngineId; }
    bool IsStarted() const { return m_pContext != nullptr; }

    // The environment whose code runs now (the innermost entry), or null.
    CJSScriptEnvironment* GetCurrentEnvironment() const;

    void SetJobTimeLimit(uint32_t milliseconds) { m_uiJobTimeLimitMs = milliseconds; }
    // 0 lets scripts run for ever.
    void SetScriptTimeLimit(uint32_t milliseconds) { m_uiScriptTimeLimitMs = milliseconds; }
    // Replaces the heap limit (now, or when the context is made). Filling a large heap to its
    // limit takes the collector seconds; tests use a small one.
    void SetHeapLimit(uint32_t bytes);

    // Live wrapper records of every engine instance (JavaScript objects bound to native ones).
    static int GetWrapperCount() { return m_iUserDataCount; }
    // Live environments of this engine, destroyed or not, that the engine has not yet collected.
    size_t GetEnvironmentCount() const { return m_Environments.size(); }

    // --- used by the binding's own units ---
    JSContext* GetContext() const { return m_pContext; }
    JSObject* GetClassGlobal() const;
    CJSScriptingClass* GetRootClass() const { return m_pRootClass; }
    CJSScriptingClass* GetClass(const ReflectedClass* cls) const;
    const ScriptFunction& GetFunctionTrampoline() const { return m_FunctionTrampoline; }
    bool IsShuttingDown() const { return m_bShuttingDown; }

    void PushScriptEnvironment(CJSScriptEnvironment* environment);
    void PopScriptEnvironment();
    // Counts nested entries from native code; promise jobs run when the outermost one ends.
    void EnterScript();
    void LeaveScript();

    void AddWrapper(CJSReferenceable* record) { m_Wrappers.insert(record); }
    void RemoveWrapper(CJSReferenceable* record) { m_Wrappers.erase(record); }
    bool IsLiveWrapper(const CJSReferenceable* record) const
    {
        return m_Wrappers.count(const_cast<CJSReferenceable*>(record)) != 0;
    }
    void AddRootHolder(IJSRootHolder* holder) { m_RootHolders.insert(holder); }
    void RemoveRootHolder(IJSRootHolder* holder) { m_RootHolders.erase(holder); }
    void AddEnvironment(CJSScriptEnvironment* environment) { m_Environments.insert(environment); }
    void RemoveEnvironment(CJSScriptEnvironment* environment) { m_Environments.erase(environment); }

    // Reports (at error level) and clears the pending exception, if there is one.
    void HandleError();
    // Runs every queued promise job, then reports rejected promises nobody handled.
    void RunJobs();
    void TrackRejection(JSObject* promise, bool handled);

    static int m_iUserDataCount;

private:
    friend class CJSScriptingClass;

    bool Initialise();
    bool DefineNamespaceClasses(ReflectedNamespace* ns);
    CJSScriptingClass* DefineClass(ReflectedClass* cls);
    void ReportUnhandledRejections();

    static void OnDestroyRealm(JS::GCContext* gcx, JS::Realm* realm);
    static bool OnInterrupt(JSContext* cx);
    static void OnWeakPointers(JSTracer* trc, void* data);

    CScripting* m_pScripting;
    uint32_t m_uiEngineId;
    JSContext* m_pContext = nullptr;
    std::unique_ptr<JS::PersistentRooted<JSObject*>> m_pClassGlobal;
    std::vector<CJSScriptEnvironment*> m_EnvironmentStack;
    CJSScriptingClass* m_pRootClass = nullptr;
    ScriptFunction m_FunctionTrampoline;
    std::unordered_set<CJSReferenceable*> m_Wrappers;
    // Engine class records outlive every object of their class: they go with the context.
    std::vector<std::unique_ptr<CJSClass>> m_ClassRecords;
    std::vector<std::unique_ptr<CJSScriptingClass>> m_Classes;
    std::unordered_set<IJSRootHolder*> m_RootHolders;
    std::unordered_set<CJSScriptEnvironment*> m_Environments;
    std::unique_ptr<CJSJobQueue> m_pJobQueue;
    std::unique_ptr<CJSWatchdog> m_pWatchdog;
    // Rejected promises without a handler yet, by promise id, reported when the turn ends.
    std::unordered_map<uint64_t, std::unique_ptr<JS::PersistentRooted<JSObject*>>> m_UnhandledRejections;
    int m_iEntryDepth = 0;
    uint32_t m_uiJobTimeLimitMs = DefaultJobTimeLimitMs;
    uint32_t m_uiScriptTimeLimitMs = DefaultScriptTimeLimitMs;
    // Set once the running entry has been stopped, so its log line is written once.
    bool m_bStopReported = false;
    uint32_t m_uiHeapLimit = HeapLimitBytes;
    bool m_bPendingDefinition = false;
    bool m_bShuttingDown = false;
    bool m_bRunningJobs = false;
};

} // namespace Corvane3D
