#include "Scripting/CommandHandlers.h"

#include "Engine/Scripting.h"

namespace Corvane3D {

namespace {

CCommandHandlers* Table(void* privateData)
{
    return static_cast<CCommandHandlers*>(privateData);
}

// Scripts may only replace or remove script handlers: the server's own commands have no
// resource, and a caller without one must not be able to take "quit" or "stop" over.
bool IsScriptHandlerOf(const CCommandHandler* handler, CResource* resource, bool anyResource)
{
    if (!dynamic_cast<const CScriptCommandHandler*>(handler))
        return false;
    return anyResource || handler->GetResource() == resource;
}

bool FunctionAddCommandHandler(CNativeState* state, int, void* privateData)
{
    const char* name = nullptr;
    CFunction* function = nullptr;
    if (!state->CheckString(0, name) || !state->CheckFunction(1, function))
        return false;
    if (!function)
        return state->ArgumentError("Function", 1);
    bool replace = false;
    if (state->GetArgumentCount() > 2 && !state->CheckBoolean(2, replace))
        return false;

    CCommandHandlers* table = Table(privateData);
    CResource* resource = state->GetResource();
    if (CCommandHandler* existing = table->GetCommandHandler(name)) {
        if (!replace || !IsScriptHandlerOf(existing, resource, false)) {
            state->ReturnBoolean(false);
            return true;
        }
        table->RemoveCommandHandler(name);
    }
    state->ReturnBoolean(table->AddCommandHandler(MakeStrong<CScriptCommandHandler>(function), name, resource));
    return true;
}

bool FunctionRemoveCommandHandler(CNativeState* state, int, void* privateData)
{
    const char* name = nullptr;
    if (!state->CheckString(0, name))
        return false;
    CCommandHandlers* table = Table(privateData);
    CResource* resource = state->GetResource();
    CCommandHandler* existing = table->GetCommandHandler(name);
    const bool removable = existing && IsScriptHandlerOf(existing, resource, resource == nullptr);
    state->ReturnBoolean(removable && table->RemoveCommandHandler(name));
    return true;
}

bool FunctionHasCommandHandler(CNativeState* state, int, void* privateData)
{
    const char* name = nullptr;
    if (!state->CheckString(0, name))
        return false;
    state->ReturnBoolean(Table(privateData)->HasCommandHandler(name));
    return true;
}

bool FunctionConsoleCommand(CNativeState* state, int, void* privateData)
{
    const char* line = nullptr;
    if (!state->CheckString(0, line))
        return false;
    CCommandHandlers* table = Table(privateData);
    state->ReturnBoolean(table->ConsoleCommand(line, table->IsPrivileged(state->GetResource())));
    return true;
}

} // namespace

void CCommandHandlers::RegisterFunctions()
{
    ReflectedNamespace* global = m_pScripting->GetGlobal();
    global->RegisterFunction("addCommandHandler", "sc|b", FunctionAddCommandHandler, this);
    global->RegisterFunction("removeCommandHandler", "s", FunctionRemoveCommandHandler, this);
    global->RegisterFunction("hasCommandHandler", "s", FunctionHasCommandHandler, this);
    global->RegisterFunction("consoleCommand", "s", FunctionConsoleCommand, this);
}

} // namespace Corvane3D
