#pragma once
// Script timers: one fixed table of 4096 slots advanced once per frame with the frame time.
// A timer fires on the first update at which its accumulated time reaches its interval; its
// elapsed time then restarts from 0 (the excess over the interval is dropped).

#include "Engine/CorvaneNative.h"
#include "Scripting/HandlerTable.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Corvane3D {

class CScripting;
class ReflectedClass;

namespace TimerHandlers {

class CTimerHandlers;

// A timer as scripts see it (class "Timer"). A removed timer stays valid for scripts that hold
// it; clearing it again does nothing.
class CScriptTimer : public CBaseObject {
public:
    CScriptTimer(CTimerHandlers* owner, CFunction* function, double interval, int32_t count, size_t argumentCapacity);

    CTimerHandlers* GetOwner() const { return m_pOwner; }
    CResource* GetResource() const { return m_pResource; }
    // -1 while not in the table.
    int32_t GetSlot() const { return m_iSlot; }
    double GetInterval() const { return m_fInterval; }
    double GetElapsed() const { return m_fElapsed; }
    // Firings left for a counted timer; 0 or less repeats for ever.
    int32_t GetRemainingCount() const { return m_iRemaining; }
    // The values passed to the function at every firing.
    CArgumentArray* GetArguments() const { return m_pArguments.Get(); }
    CFunction* GetFunction() const { return m_pFunction.Get(); }

protected:
    ~CScriptTimer() override;

private:
    friend class CTimerHandlers;

    CTimerHandlers* m_pOwner;
    CResource* m_pResource = nullptr;
    int32_t m_iSlot = -1;
    double m_fInterval;
    double m_fElapsed = 0.0;
    int32_t m_iRemaining;
    Strong<CArgumentArray> m_pArguments;
    Strong<CFunction> m_pFunction;
    CHandlerEntry m_Entry;
};

class CTimerHandlers : public CHandlerTable {
public:
    static constexpr size_t MaxTimers = 4096;

    // Registers the class "Timer" and the timer natives in the core's root namespace.
    explicit CTimerHandlers(CScripting* scripting);
    ~CTimerHandlers() override;

    // A timer that is not yet in the table. `count` 1 fires once, 0 repeats for ever.
    Strong<CScriptTimer> CreateTimer(CResource* resource, CFunction* function, double interval, int32_t count,
                                     size_t argumentCapacity);
    // Puts the timer in the lowest free slot; false when the table is full or it is in already.
    bool AddTimer(CScriptTimer* timer);
    // True when the timer was in the table. During an update the slot is freed when the pass
    // ends, so a timer cleared from its own callback keeps its function and arguments until its
    // call has returned.
    bool RemoveTimer(CScriptTimer* timer);
    // Every timer of the resource, or every timer for null; returns how many.
    size_t RemoveTimers(CResource* resource);
    // Advances every timer by the frame time (seconds) and fires those that are due, in slot
    // order. Timers added during the pass wait for the next one.
    void Update(double frameTime);

    size_t GetTimerCount() const { return m_iUsed; }
    CScriptTimer* GetTimerAt(size_t slot) const;
    ReflectedClass* GetTimerClass() const { return m_pTimerClass; }
    CScripting* GetScripting() const { return m_pScripting; }

private:
    void RegisterFunctions();
    void FreeSlot(size_t slot);
    void FinishedIterating() override;

    CScripting* m_pScripting;
    // Allocated once; slots are never resized.
    std::vector<uint8_t> m_Used;
    std::vector<Strong<CScriptTimer>> m_Slots;
    size_t m_iUsed = 0;
    // One past the highest slot in use, so a pass does not scan an empty tail.
    size_t m_iSlotLimit = 0;
    bool m_bHasMarked = false;
    ReflectedClass* m_pTimerClass = nullptr;
};

} // namespace TimerHandlers
} // namespace Corvane3D
