#include "JSInternal.h"

#include "Engine/OS.h"

namespace Corvane3D {

// Jobs that wait while the engine's debugger interrupts them.
class CJSJobQueue::CSavedQueue final : public JS::JobQueue::SavedJobQueue {
public:
    explicit CSavedQueue(CJSJobQueue* queue) : m_pQueue(queue), m_Jobs(std::move(queue->m_Jobs)) {}
    ~CSavedQueue() override { m_pQueue->m_Jobs = std::move(m_Jobs); }

private:
    CJSJobQueue* m_pQueue;
    std::deque<std::unique_ptr<JS::PersistentRootedObject>> m_Jobs;
};

JSObject* CJSJobQueue::getIncumbentGlobal(JSContext* cx)
{
    return JS::CurrentGlobalOrNull(cx);
}

bool CJSJobQueue::enqueuePromiseJob(JSContext* cx, JS::HandleObject, JS::HandleObject job, JS::HandleObject,
                                    JS::HandleObject)
{
    m_Jobs.push_back(std::make_unique<JS::PersistentRootedObject>(cx, job));
    return true;
}

void CJSJobQueue::runJobs(JSContext*)
{
    m_pScripting->RunJobs();
}

js::UniquePtr<JS::JobQueue::SavedJobQueue> CJSJobQueue::saveJobQueue(JSContext*)
{
    return js::UniquePtr<JS::JobQueue::SavedJobQueue>(js_new<CSavedQueue>(this));
}

bool CJSJobQueue::Drain(JSContext* cx, uint32_t timeLimitMs, size_t& dropped)
{
    const uint32_t start = OS::GetTicks();
    JS::RootedObject job(cx);
    JS::RootedValue result(cx);
    while (!m_Jobs.empty()) {
        if (timeLimitMs && OS::HasElapsed(OS::GetTicks(), start, timeLimitMs + 1)) {
            dropped = m_Jobs.size();
            m_Jobs.clear();
            return false;
        }
        job = m_Jobs.front()->get();
        m_Jobs.pop_front();
        JS::Realm* realm = JS::GetObjectRealmOrNull(job);
        auto* environment = realm ? static_cast<CJSScriptEnvironment*>(JS::GetRealmPrivate(realm)) : nullptr;
        // Reactions of a stopped resource never run: its natives would act for a resource that
        // is gone.
        if (environment && environment->IsDestroyed())
            continue;
        CJSEntry entry(m_pScripting, environment, job);
        if (!JS::Call(cx, JS::UndefinedHandleValue, job, JS::HandleValueArray::empty(), &result))
            m_pScripting->HandleError();
    }
    return true;
}

CJSEntry::CJSEntry(CJSScripting* scripting, CJSScriptEnvironment* environment, JSObject* realmObject)
    : m_pScripting(scripting), m_pEnvironment(environment)
{
    m_pScripting->EnterScript();
    if (m_pEnvironment)
        m_pScripting->PushScriptEnvironment(m_pEnvironment);
    if (realmObject)
        m_Realm.emplace(m_pScripting->GetContext(), realmObject);
}

CJSEntry::~CJSEntry()
{
    m_Realm.reset();
    if (m_pEnvironment)
        m_pScripting->PopScriptEnvironment();
    m_pScripting->LeaveScript();
}

} // namespace Corvane3D
