#include "Scripting/TimerHandlers.h"

#include "Engine/Scripting.h"

namespace Corvane3D::TimerHandlers {

namespace {

CTimerHandlers* Table(void* privateData)
{
    return static_cast<CTimerHandlers*>(privateData);
}

// Makes and registers a timer for the function in argument 1 with the extra arguments from
// `firstExtra` on; returns it, or null when the table is full.
bool StartTimer(CNativeState* state, CTimerHandlers* table, double interval, int32_t count, size_t firstExtra)
{
    CFunction* function = nullptr;
    if (!state->CheckFunction(0, function))
        return false;
    if (!function)
        return state->ArgumentError("Function", 0);
    const size_t total = state->GetArgumentCount();
    const size_t extra = total > firstExtra ? total - firstExtra : 0;
    Strong<CScriptTimer> timer = table->CreateTimer(state->GetResource(), function, interval, count, extra);
    if (!table->AddTimer(timer)) {
        state->ReturnNull();
        return true;
    }
    for (size_t i = firstExtra; i < total; ++i)
        timer->GetArguments()->Add(state->GetArgument(i));
    state->ReturnObject(timer);
    return true;
}

bool CheckDelay(CNativeState* state, double& interval)
{
    uint32_t milliseconds = 0;
    if (!state->CheckNumber(1, milliseconds))
        return false;
    interval = double(milliseconds) / 1000.0;
    return true;
}

bool FunctionSetTimeout(CNativeState* state, int, void* privateData)
{
    CFunction* function = nullptr;
    double interval = 0.0;
    if (!state->CheckFunction(0, function) || !CheckDelay(state, interval))
        return false;
    return StartTimer(state, Table(privateData), interval, 1, 2);
}

bool FunctionSetInterval(CNativeState* state, int, void* privateData)
{
    CFunction* function = nullptr;
    double interval = 0.0;
    if (!state->CheckFunction(0, function) || !CheckDelay(state, interval))
        return false;
    return StartTimer(state, Table(privateData), interval, 0, 2);
}

bool FunctionSetImmediate(CNativeState* state, int, void* privateData)
{
    return StartTimer(state, Table(privateData), 0.0, 1, 1);
}

bool FunctionClearTimer(CNativeState* state, int, void* privateData)
{
    CTimerHandlers* table = Table(privateData);
    CScriptTimer* timer = nullptr;
    if (!state->CheckClass(table->GetTimerClass(), 0, false, timer))
        return false;
    // A timer of another table (or one the table never held) is not this table's to remove.
    state->ReturnBoolean(timer->GetOwner() == table && table->RemoveTimer(timer));
    return true;
}

} // namespace

void CTimerHandlers::RegisterFunctions()
{
    ReflectedNamespace* global = m_pScripting->GetGlobal();
    m_pTimerClass = global->NewClass("Timer");
    global->RegisterFunction("setTimeout", "ci*", FunctionSetTimeout, this);
    global->RegisterFunction("setInterval", "ci*", FunctionSetInterval, this);
    global->RegisterFunction("setImmediate", "c*", FunctionSetImmediate, this);
    global->RegisterFunction("clearTimeout", "x", FunctionClearTimer, this);
    global->RegisterFunction("clearInterval", "x", FunctionClearTimer, this);
    global->RegisterFunction("clearImmediate", "x", FunctionClearTimer, this);
}

} // namespace Corvane3D::TimerHandlers
