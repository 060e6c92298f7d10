#include "JSInternal.h"

#include "Engine/OS.h"
#include "Engine/Reflection.h"

#include <pthread.h>

#include <algorithm>
#include <map>

namespace Corvane3D {

int CJSScripting::m_iUserDataCount = 0;

namespace {

const JSClass kGlobalClass = {"global", JSCLASS_GLOBAL_FLAGS, &JS::DefaultGlobalClassOps, nullptr, nullptr, nullptr};

// The engine checks its native stack against this quota and raises "too much recursion"
// instead of overflowing. Half of the thread's stack leaves room for native frames (and the
// sanitizers' larger ones) below the engine's.
size_t NativeStackQuota()
{
    size_t size = 0;
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) == 0) {
        pthread_attr_getstacksize(&attributes, &size);
        pthread_attr_destroy(&attributes);
    }
    constexpr size_t Minimum = 256 * 1024;
    constexpr size_t Maximum = 4 * 1024 * 1024;
    return std::clamp(size / 2, Minimum, Maximum);
}

void OnPromiseRejection(JSContext*, bool, JS::HandleObject promise, JS::PromiseRejectionHandlingState state,
                        void* data)
{
    static_cast<CJSScripting*>(data)->TrackRejection(promise, state == JS::PromiseRejectionHandlingState::Handled);
}

} // namespace

const JSClass& GetGlobalClass()
{
    return kGlobalClass;
}

CJSScripting* GetEngine(JSContext* cx)
{
    return cx ? static_cast<CJSScripting*>(JS_GetContextPrivate(cx)) : nullptr;
}

CJSScripting::CJSScripting(CScripting* scripting)
    : m_pScripting(scripting),
      m_uiEngineId(GetId()),
      m_FunctionTrampoline("", "", Reflection::FunctionTrampoline)
{
}

CJSScripting::~CJSScripting()
{
    if (!m_pContext) {
        for (auto& cls : m_Classes)
            cls->Detach();
        return;
    }
    m_bShuttingDown = true;
    // The watchdog thread may poke the context; it goes first.
    m_pWatchdog.reset();
    m_pJobQueue->Clear();
    m_UnhandledRejections.clear();
    // Native code may still hold script values; none of them may outlive the heap.
    for (IJSRootHolder* holder : std::vector<IJSRootHolder*>(m_RootHolders.begin(), m_RootHolders.end()))
        holder->Unroot();
    for (CJSReferenceable* record : m_Wrappers)
        record->Unroot();
    for (auto& cls : m_Classes) {
        cls->Unroot();
        cls->Detach();
    }
    m_pClassGlobal.reset();
    JS_RemoveWeakPointerZonesCallback(m_pContext, OnWeakPointers);
    // Destroying the context finalises every remaining object: dormant native objects are
    // destroyed, the others lose their records.
    JS_DestroyContext(m_pContext);
    m_pContext = nullptr;
    for (CJSReferenceable* record : m_Wrappers)
        record->Detach();
    m_Wrappers.clear();
    m_RootHolders.clear();
    for (CJSScriptEnvironment* environment : m_Environments)
        environment->m_pScripting = nullptr;
    m_Environments.clear();
}

JSObject* CJSScripting::GetClassGlobal() const
{
    return m_pClassGlobal ? m_pClassGlobal->get() : nullptr;
}

CJSScriptingClass* CJSScripting::GetClass(const ReflectedClass* cls) const
{
    if (!cls)
        return nullptr;
    return static_cast<CJSScriptingClass*>(cls->GetUserData().GetUserData(m_uiEngineId));
}

bool CJSScripting::Initialise()
{
    if (m_pContext)
        return true;
    Context* log = Corvane3D::GetContext();
    if (!CJSEngineLifetime::IsActive()) {
        if (log)
            log->LogError("The JavaScript engine has not been started");
        return false;
    }
    JSContext* cx = JS_NewContext(m_uiHeapLimit);
    if (!cx) {
        if (log)
            log->LogError("Unable to create the JavaScript context");
        return false;
    }
    JS_SetNativeStackQuota(cx, NativeStackQuota());
    JS_SetGCParameter(cx, JSGC_MAX_NURSERY_BYTES, NurseryBytes);
    JS_SetContextPrivate(cx, this);
    m_pJobQueue = std::make_unique<CJSJobQueue>(this);
    JS::SetJobQueue(cx, m_pJobQueue.get());
    JS::SetPromiseRejectionTrackerCallback(cx, OnPromiseRejection, this);
    JS::SetDestroyRealmCallback(cx, OnDestroyRealm);
    JS_AddWeakPointerZonesCallback(cx, OnWeakPointers, this);
    JS_AddInterruptCallback(cx, OnInterrupt);
    if (!JS::InitSelfHostedCode(cx)) {
        if (log)
            log->LogError("Unable to initialise the JavaScript engine's self-hosted code");
        JS_DestroyContext(cx);
        return false;
    }
    m_pContext = cx;
    m_pWatchdog = std::make_unique<CJSWatchdog>(cx);

    JS::RealmOptions options;
    JS::RootedObject global(cx, JS_NewGlobalObject(cx, &kGlobalClass, nullptr, JS::DontFireOnNewGlobalHook, options));
    if (!global) {
        HandleError();
        m_pWatchdog.reset();
        m_pContext = nullptr;
        JS_DestroyContext(cx);
        return false;
    }
    m_pClassGlobal = std::make_unique<JS::PersistentRootedObject>(cx, global);
    {
        JSAutoRealm realm(cx, global);
        // The class realm's intrinsics sit under every shared prototype; frozen, no environment
        // can change what another one sees.
        JS::RootedObject objectPrototype(cx, JS::GetRealmObjectPrototype(cx));
        JS::RootedObject functionPrototype(cx, JS::GetRealmFunctionPrototype(cx));
        auto record = std::make_unique<CJSClass>();
        std::snprintf(record->m_szName, sizeof(record->m_szName), "%s", "Referenceable");
        auto root = std::make_unique<CJSScriptingClass>(this, nullptr, record.get());
        m_ClassRecords.push_back(std::move(record));
        if (!objectPrototype || !functionPrototype || !root->Initialise(nullptr) ||
            !JS_FreezeObject(cx, objectPrototype) || !JS_FreezeObject(cx, functionPrototype)) {
            HandleError();
            if (log)
                log->LogError("Unable to create the JavaScript root class");
            return false;
        }
        m_pRootClass = root.get();
        m_Classes.push_back(std::move(root));
    }
    if (m_bPendingDefinition) {
        m_bPendingDefinition = false;
        return DefineClasses();
    }
    return true;
}

bool CJSScripting::DefineClasses()
{
    if (!m_pContext) {
        m_bPendingDefinition = true;
        return true;
    }
    if (!m_pRootClass)
        return false;
    JSContext* cx = m_pContext;
    JSAutoRealm realm(cx, GetClassGlobal());
    if (!DefineNamespaceClasses(m_pScripting->GetGlobal())) {
        HandleError();
        return false;
    }
    return true;
}

bool CJSScripting::DefineNamespaceClasses(ReflectedNamespace* ns)
{
    for (const auto& cls : ns->GetClasses()) {
        if (!DefineClass(cls.get()))
            return false;
    }
    for (const auto& child : ns->GetNamespaces()) {
        if (!DefineNamespaceClasses(child.get()))
            return false;
    }
    return true;
}

CJSScriptingClass* CJSScripting::DefineClass(ReflectedClass* cls)
{
    if (CJSScriptingClass* existing = GetClass(cls))
        return existing;
    // A parent registered after its child (or elsewhere in the tree) is made first, so that every
    // class is an instance of its parents.
    CJSScriptingClass* parent = m_pRootClass;
    if (cls->GetParentClass()) {
        parent = DefineClass(cls->GetParentClass());
        if (!parent)
            return nullptr;
    }
    void** slot = cls->GetUserData().AddUserData(m_uiEngineId, &CJSScriptingClass::OnBindingCleared);
    if (!slot) {
        JS_ReportErrorASCII(m_pContext, "Too many engine records for class %s", cls->GetName());
        return nullptr;
    }
    auto record = std::make_unique<CJSClass>();
    std::snprintf(record->m_szName, sizeof(record->m_szName), "%s", cls->GetName());
    auto jsClass = std::make_unique<CJSScriptingClass>(this, cls, record.get());
    m_ClassRecords.push_back(std::move(record));
    CJSScriptingClass* raw = jsClass.get();
    m_Classes.push_back(std::move(jsClass));
    *slot = raw;
    raw->SetBindingSlot(slot);
    if (!raw->Initialise(parent)) {
        raw->Detach();
        return nullptr;
    }
    return raw;
}

void CJSScripting::SetHeapLimit(uint32_t bytes)
{
    m_uiHeapLimit = bytes;
    if (m_pContext)
        JS_SetGCParameter(m_pContext, JSGC_MAX_BYTES, bytes);
}

void CJSScripting::CollectGarbage()
{
    if (m_pContext)
        JS_GC(m_pContext);
}

CScriptEnvironment* CJSScripting::CreateEnvironment(const char*)
{
    if (!Initialise())
        return nullptr;
    // Classes registered since the last definition become available to the new environment.
    if (!DefineClasses())
        return nullptr;
    Strong<CJSScriptEnvironment> environment(new CJSScriptEnvironment(this), Adopt);
    if (!environment->Initialise())
        return nullptr;
    // The creator's reference; Destroy releases it.
    return environment.Detach();
}

CJSScriptEnvironment* CJSScripting::GetCurrentEnvironment() const
{
    return m_EnvironmentStack.empty() ? nullptr : m_EnvironmentStack.back();
}

void CJSScripting::PushScriptEnvironment(CJSScriptEnvironment* environment)
{
    environment->AddRef();
    m_EnvironmentStack.push_back(environment);
}

void CJSScripting::PopScriptEnvironment()
{
    if (m_EnvironmentStack.empty())
        return;
    CJSScriptEnvironment* environment = m_EnvironmentStack.back();
    m_EnvironmentStack.pop_back();
    environment->Release();
}

void CJSScripting::EnterScript()
{
    if (m_iEntryDepth++ == 0 && m_pWatchdog) {
        m_bStopReported = false;
        m_pWatchdog->Begin(m_uiScriptTimeLimitMs);
    }
}

void CJSScripting::LeaveScript()
{
    if (m_iEntryDepth == 1)
        RunJobs();
    if (--m_iEntryDepth == 0 && m_pWatchdog)
        m_pWatchdog->End();
}

bool CJSScripting::OnInterrupt(JSContext* cx)
{
    CJSScripting* scripting = GetEngine(cx);
    if (!scripting || !scripting->m_pWatchdog || !scripting->m_pWatchdog->HasExpired())
        return true;
    if (!scripting->m_bStopReported) {
        scripting->m_bStopReported = true;
        if (Context* log = Corvane3D::GetContext())
            log->LogError("A script ran for more than %u ms and was stopped", scripting->m_uiScriptTimeLimitMs);
    }
    // Uncatchable: the script ends here, and so does every script still on the stack.
    return false;
}

void CJSScripting::RunJobs()
{
    if (!m_pContext || m_bRunningJobs || m_bShuttingDown)
        return;
    m_bRunningJobs = true;
    EnterScript();
    size_t dropped = 0;
    if (!m_pJobQueue->Drain(m_pContext, m_uiJobTimeLimitMs, dropped)) {
        if (Context* log = Corvane3D::GetContext())
            log->LogError("Promise jobs ran for more than %u ms in one turn; %zu waiting jobs were dropped",
                          m_uiJobTimeLimitMs, dropped);
    }
    // Targets of WeakRefs read during the turn may be collected again.
    JS::ClearKeptObjects(m_pContext);
    ReportUnhandledRejections();
    --m_iEntryDepth;
    m_bRunningJobs = false;
    if (m_iEntryDepth == 0 && m_pWatchdog)
        m_pWatchdog->End();
}

void CJSScripting::TrackRejection(JSObject* promise, bool handled)
{
    if (!m_pContext || m_bShuttingDown)
        return;
    JS::RootedObject object(m_pContext, promise);
    const uint64_t id = JS::GetPromiseID(object);
    if (handled) {
        m_UnhandledRejections.erase(id);
        return;
    }
    m_UnhandledRejections[id] = std::make_unique<JS::PersistentRootedObject>(m_pContext, object);
}

void CJSScripting::ReportUnhandledRejections()
{
    if (m_UnhandledRejections.empty())
        return;
    // Reported in the order the promises were made.
    std::map<uint64_t, std::unique_ptr<JS::PersistentRootedObject>> pending;
    for (auto& [id, promise] : m_UnhandledRejections)
        pending.emplace(id, std::move(promise));
    m_UnhandledRejections.clear();
    JSContext* cx = m_pContext;
    for (auto& [id, rooted] : pending) {
        JS::RootedObject promise(cx, rooted->get());
        JSAutoRealm realm(cx, promise);
        JS::RootedValue reason(cx, JS::GetPromiseResult(promise));
        JS::RootedObject site(cx, JS::GetPromiseResolutionSite(promise));
        JS::ExceptionStack exception(cx, reason, site);
        JSUtil::ReportException(cx, exception);
    }
}

void CJSScripting::HandleError()
{
    JSContext* cx = m_pContext;
    if (!cx || !JS_IsExceptionPending(cx))
        return;
    JS::ExceptionStack exception(cx);
    if (!JS::StealPendingExceptionStack(cx, &exception)) {
        JS_ClearPendingException(cx);
        return;
    }
    JSUtil::ReportException(cx, exception);
}

void CJSScripting::OnDestroyRealm(JS::GCContext*, JS::Realm* realm)
{
    // The realm's reference to its environment; the class realm has none.
    if (auto* environment = static_cast<CJSScriptEnvironment*>(JS::GetRealmPrivate(realm))) {
        JS::SetRealmPrivate(realm, nullptr);
        environment->Release();
    }
}

void CJSScripting::OnWeakPointers(JSTracer* trc, void* data)
{
    for (CJSReferenceable* record : static_cast<CJSScripting*>(data)->m_Wrappers)
        record->UpdateWeakPointer(trc);
}

} // namespace Corvane3D
