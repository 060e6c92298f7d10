#include "Scripting/TimerHandlers.h"

#include "Engine/Scripting.h"

#include <cmath>

namespace Corvane3D::TimerHandlers {

CScriptTimer::CScriptTimer(CTimerHandlers* owner, CFunction* function, double interval, int32_t count,
                           size_t argumentCapacity)
    : m_pOwner(owner),
      m_fInterval(interval),
      m_iRemaining(count),
      m_pArguments(MakeStrong<CArgumentArray>(argumentCapacity)),
      m_pFunction(function)
{
    if (owner)
        SetReflectedClass(owner->GetTimerClass());
}

CScriptTimer::~CScriptTimer() = default;

CTimerHandlers::CTimerHandlers(CScripting* scripting)
    : m_pScripting(scripting), m_Used(MaxTimers, 0), m_Slots(MaxTimers)
{
    RegisterFunctions();
}

CTimerHandlers::~CTimerHandlers()
{
    RemoveTimers(nullptr);
}

Strong<CScriptTimer> CTimerHandlers::CreateTimer(CResource* resource, CFunction* function, double interval,
                                                 int32_t count, size_t argumentCapacity)
{
    auto timer = MakeStrong<CScriptTimer>(this, function, interval, count, argumentCapacity);
    timer->m_pResource = resource;
    return timer;
}

bool CTimerHandlers::AddTimer(CScriptTimer* timer)
{
    if (!timer || timer->m_iSlot >= 0 || m_iUsed >= MaxTimers)
        return false;
    size_t slot = 0;
    while (slot < MaxTimers && m_Used[slot])
        ++slot;
    if (slot == MaxTimers)
        return false;
    m_Used[slot] = 1;
    m_Slots[slot] = timer;
    ++m_iUsed;
    if (slot >= m_iSlotLimit)
        m_iSlotLimit = slot + 1;
    timer->m_iSlot = int32_t(slot);
    timer->m_pOwner = this;
    Admit(timer->m_Entry, timer->m_pResource);
    return true;
}

CScriptTimer* CTimerHandlers::GetTimerAt(size_t slot) const
{
    return slot < MaxTimers && m_Used[slot] ? m_Slots[slot].Get() : nullptr;
}

bool CTimerHandlers::RemoveTimer(CScriptTimer* timer)
{
    if (!timer || timer->m_iSlot < 0 || size_t(timer->m_iSlot) >= MaxTimers)
        return false;
    const size_t slot = size_t(timer->m_iSlot);
    if (!m_Used[slot] || m_Slots[slot].Get() != timer)
        return false;
    if (!MarkRemoved(timer->m_Entry))
        return false;
    if (IsIterating()) {
        // The update may be inside this timer's call, reading its arguments with its function
        // on the stack: everything is released when the pass ends.
        m_bHasMarked = true;
        return true;
    }
    FreeSlot(slot);
    return true;
}

void CTimerHandlers::FreeSlot(size_t slot)
{
    // The table's reference goes last: it may be the timer's only one.
    Strong<CScriptTimer> timer = std::move(m_Slots[slot]);
    m_Used[slot] = 0;
    --m_iUsed;
    if (m_iUsed == 0)
        m_iSlotLimit = 0;
    timer->m_iSlot = -1;
    timer->m_fElapsed = 0.0;
    Strong<CArgumentArray> arguments = std::move(timer->m_pArguments);
    Strong<CFunction> function = std::move(timer->m_pFunction);
    timer->m_pArguments = MakeStrong<CArgumentArray>();
}

size_t CTimerHandlers::RemoveTimers(CResource* resource)
{
    size_t removed = 0;
    for (size_t slot = 0; slot < m_iSlotLimit; ++slot) {
        if (!m_Used[slot])
            continue;
        Strong<CScriptTimer> timer = m_Slots[slot];
        if ((!resource || timer->m_pResource == resource) && RemoveTimer(timer))
            ++removed;
    }
    return removed;
}

void CTimerHandlers::FinishedIterating()
{
    if (!m_bHasMarked)
        return;
    m_bHasMarked = false;
    for (size_t slot = 0; slot < m_iSlotLimit; ++slot) {
        if (m_Used[slot] && m_Slots[slot]->m_Entry.IsRemoved())
            FreeSlot(slot);
    }
}

void CTimerHandlers::Update(double frameTime)
{
    // A bad clock value must not stall every timer for good (NaN never compares as due).
    if (!std::isfinite(frameTime) || frameTime < 0.0)
        frameTime = 0.0;
    CWalk walk(*this);
    const size_t limit = m_iSlotLimit;
    for (size_t slot = 0; slot < limit; ++slot) {
        if (!m_Used[slot])
            continue;
        // Held across the call: the callback may clear the timer or stop its resource.
        Strong<CScriptTimer> timer = m_Slots[slot];
        if (!walk.Reaches(timer->m_Entry))
            continue;
        timer->m_fElapsed += frameTime;
        if (timer->m_fElapsed < timer->m_fInterval)
            continue;
        Strong<CFunction> function = timer->m_pFunction;
        Strong<CArgumentArray> arguments = timer->m_pArguments;
        if (function) {
            CResourceCallScope scope(GetCallObserver(), timer->m_pResource);
            function->Call(*arguments, nullptr);
        }
        if (timer->m_Entry.IsRemoved())
            continue;
        timer->m_fElapsed = 0.0;
        if (timer->m_iRemaining > 0 && --timer->m_iRemaining == 0)
            RemoveTimer(timer);
    }
}

} // namespace Corvane3D::TimerHandlers
