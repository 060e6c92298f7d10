#include "Scripting/EventHandlers.h"

#include "Engine/Context.h"
#include "Engine/Scripting.h"

namespace Corvane3D::EventHandlers {

namespace {

CEventHandlers* Table(void* privateData)
{
    return static_cast<CEventHandlers*>(privateData);
}

// A function argument that holds a function; a handler without one could never run.
bool CheckCallback(CNativeState* state, size_t index, CFunction*& out)
{
    if (!state->CheckFunction(index, out))
        return false;
    if (!out)
        return state->ArgumentError("Function", index);
    return true;
}

bool GetEventName(CNativeState* state, int, void* privateData)
{
    CEvent* event = nullptr;
    if (!state->GetThis(Table(privateData)->GetEventClass(), event))
        return false;
    state->ReturnString(event->GetType()->GetName());
    return true;
}

bool GetEventDescription(CNativeState* state, int, void* privateData)
{
    CEvent* event = nullptr;
    if (!state->GetThis(Table(privateData)->GetEventClass(), event))
        return false;
    state->ReturnString(event->GetType()->GetDescription());
    return true;
}

bool FunctionPreventDefault(CNativeState* state, int, void* privateData)
{
    CCancellableEvent* event = nullptr;
    if (!state->GetThis(Table(privateData)->GetCancellableEventClass(), event))
        return false;
    event->PreventDefault();
    return true;
}

bool FunctionIsDefaultPrevented(CNativeState* state, int, void* privateData)
{
    CCancellableEvent* event = nullptr;
    if (!state->GetThis(Table(privateData)->GetCancellableEventClass(), event))
        return false;
    state->ReturnBoolean(event->IsDefaultPrevented());
    return true;
}

bool FunctionAddEvent(CNativeState* state, int, void* privateData)
{
    const char* name = nullptr;
    if (!state->CheckString(0, name))
        return false;
    int32_t argumentCount = CEventType::NoArgumentCount;
    if (state->GetArgumentCount() > 1 && !state->CheckNumber(1, argumentCount))
        return false;
    // Any negative count means "not declared"; it must not turn into a huge requirement.
    if (argumentCount < 0)
        argumentCount = CEventType::NoArgumentCount;
    CEventHandlers* table = Table(privateData);
    if (!table->GetEventType(name))
        table->CreateEventType(name, nullptr, argumentCount, true);
    state->ReturnBoolean(table->GetEventType(name) != nullptr);
    return true;
}

bool FunctionAddEventHandler(CNativeState* state, int, void* privateData)
{
    const char* name = nullptr;
    CFunction* function = nullptr;
    if (!state->CheckString(0, name) || !CheckCallback(state, 1, function))
        return false;
    CEventType* type = Table(privateData)->GetEventType(name);
    if (!type) {
        if (Context* context = GetContext())
            context->LogWarn("AddEventHandler: Event '%s' doesn't exist", name);
        state->ReturnBoolean(false);
        return true;
    }
    state->ReturnBoolean(type->AddHandler(MakeStrong<CScriptEventHandler>(function), state->GetResource()));
    return true;
}

bool FunctionRemoveEventHandler(CNativeState* state, int, void* privateData)
{
    const char* name = nullptr;
    if (!state->CheckString(0, name))
        return false;
    CEventType* type = Table(privateData)->GetEventType(name);
    state->ReturnBoolean(type && type->RemoveHandlers(state->GetResource()) > 0);
    return true;
}

bool FunctionBindEventHandler(CNativeState* state, int, void* privateData)
{
    const char* name = nullptr;
    CBaseObject* source = nullptr;
    CFunction* function = nullptr;
    if (!state->CheckString(0, name) || !state->CheckReferenceable(1, source))
        return false;
    // Bound to nothing, the handler would run for every occurrence.
    if (!source)
        return state->ArgumentError("Instance", 1);
    if (!CheckCallback(state, 2, function))
        return false;
    CEventType* type = Table(privateData)->GetEventType(name);
    if (!type)
        return state->Error("Event '%s' doesn't exist", name);
    if (!type->IsBindable())
        return state->Error("Event '%s' is not bindable", name);
    state->ReturnBoolean(type->AddHandler(MakeStrong<CScriptEventHandler>(function, source), state->GetResource()));
    return true;
}

bool FunctionUnbindEventHandler(CNativeState* state, int, void* privateData)
{
    const char* name = nullptr;
    CBaseObject* source = nullptr;
    if (!state->CheckString(0, name) || !state->CheckReferenceable(1, source))
        return false;
    CEventType* type = Table(privateData)->GetEventType(name);
    state->ReturnBoolean(type && type->RemoveHandlersWithSource(source, state->GetResource()) > 0);
    return true;
}

bool FunctionTriggerEvent(CNativeState* state, int, void* privateData)
{
    const char* name = nullptr;
    if (!state->CheckString(0, name))
        return false;
    if (const CArgument* second = state->GetArgument(1)) {
        if (!second->IsNull() && !second->IsObject())
            return state->ArgumentError("Instance", 1);
    }
    CEventType* type = Table(privateData)->GetEventType(name);
    if (!type)
        return state->Error("Event '%s' doesn't exist", name);
    const size_t count = state->GetArgumentCount();
    CArgumentArray arguments(count > 2 ? count - 2 : 0);
    for (size_t i = 2; i < count; ++i)
        arguments.Add(state->GetArgument(i));
    bool prevented = false;
    type->Trigger(arguments, prevented);
    state->ReturnBoolean(prevented);
    return true;
}

} // namespace

void CEventHandlers::RegisterFunctions()
{
    ReflectedNamespace* global = m_pScripting->GetGlobal();

    m_pEventClass = global->NewClass("Event");
    m_pEventClass->AddProperty(this, "name", ARGUMENT_STRING, GetEventName);
    m_pEventClass->AddProperty(this, "description", ARGUMENT_STRING, GetEventDescription);

    m_pCancellableEventClass = global->NewClass("CancellableEvent", m_pEventClass);
    m_pCancellableEventClass->RegisterFunction("preventDefault", "t", FunctionPreventDefault, this);
    m_pCancellableEventClass->RegisterFunction("isDefaultPrevented", "t", FunctionIsDefaultPrevented, this);

    global->RegisterFunction("addEvent", "s|i", FunctionAddEvent, this);
    global->RegisterFunction("addEventHandler", "sf", FunctionAddEventHandler, this);
    global->RegisterFunction("removeEventHandler", "s", FunctionRemoveEventHandler, this);
    global->RegisterFunction("bindEventHandler", "sxf", FunctionBindEventHandler, this);
    global->RegisterFunction("unbindEventHandler", "sx", FunctionUnbindEventHandler, this);
    global->RegisterFunction("triggerEvent", "s|x*", FunctionTriggerEvent, this);
}

} // namespace Corvane3D::EventHandlers
