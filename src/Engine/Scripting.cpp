#include "Engine/Scripting.h"

#include "Engine/CRC32Hash.h"
#include "Engine/Context.h"
#include "Engine/Reflection.h"

namespace Corvane3D {

uint32_t CScriptingVM::GetEngineId(const char* engineName)
{
    return CRC32Hash::HashString(engineName, false);
}

CScripting::CScripting() : m_pGlobal(std::make_unique<ReflectedNamespace>("global"))
{
    m_pReflection = m_pGlobal->AddNamespace("reflection");
    m_pModule = m_pGlobal->AddNamespace("module");
    m_pFunctionClass = m_pReflection->NewClass("Function");
    RegisterReflectionFunctions();
}

CScripting::~CScripting()
{
    m_bShuttingDown = true;
    // Engines free their class records while they still exist.
    m_pGlobal->Clear();
    for (size_t i = 0; i < m_VMCount; ++i)
        m_VMs[i].engine->CollectGarbage();
    for (size_t i = 0; i < m_VMCount; ++i)
        m_VMs[i].engine.reset();
    m_pGlobal.reset();
}

bool CScripting::AddVM(uint32_t engineId, std::unique_ptr<CScriptingVM> engine)
{
    if (!engine)
        return false;
    if (GetVM(engineId)) {
        if (Context* context = GetContext())
            context->LogError("Script engine %08X is already registered", engineId);
        return false;
    }
    if (m_VMCount >= MaxEngines) {
        if (Context* context = GetContext())
            context->LogError("Too many script engines (%zu at most)", MaxEngines);
        return false;
    }
    m_VMs[m_VMCount++] = VMEntry{engineId, std::move(engine)};
    return true;
}

CScriptingVM* CScripting::GetVM(uint32_t engineId) const
{
    for (size_t i = 0; i < m_VMCount; ++i) {
        if (m_VMs[i].engineId == engineId)
            return m_VMs[i].engine.get();
    }
    return nullptr;
}

CScriptingVM* CScripting::GetVM(const char* engineName) const
{
    return GetVM(CScriptingVM::GetEngineId(engineName));
}

bool CScripting::DefineAllClasses()
{
    for (size_t i = 0; i < m_VMCount; ++i) {
        if (!m_VMs[i].engine->DefineClasses())
            return false;
    }
    return true;
}

void CScripting::CollectGarbage()
{
    for (size_t i = 0; i < m_VMCount; ++i)
        m_VMs[i].engine->CollectGarbage();
}

namespace {

// Instances and elements that hold an object; anything else reports "Object".
bool CheckObjectArgument(CNativeState* state, size_t index, CBaseObject*& out)
{
    out = nullptr;
    CArgument* argument = state->GetArgument(index);
    if (!argument || !argument->IsObject() || !argument->ToObject())
        return state->ArgumentError("Object", index);
    out = argument->ToObject();
    return true;
}

bool FunctionClone(CNativeState* state, int, void*)
{
    CBaseObject* object = nullptr;
    if (!CheckObjectArgument(state, 0, object))
        return false;
    const ReflectedClass* cls = object->GetReflectedClass();
    if (!cls)
        return state->Error("Class not part of reflection");
    if (!cls->GetCloneHook().CanCall())
        return state->Error("Class is not cloneable");
    Strong<CBaseObject> clone = Reflection::Clone(object);
    if (!clone)
        return state->Error("%s", GetError());
    state->ReturnObject(clone);
    return true;
}

bool FunctionMove(CNativeState* state, int, void*)
{
    CBaseObject* destination = nullptr;
    CBaseObject* source = nullptr;
    if (!CheckObjectArgument(state, 0, destination) || !CheckObjectArgument(state, 1, source))
        return false;
    if (destination == source)
        return state->Error("Cannot move to same place");
    const ReflectedClass* cls = destination->GetReflectedClass();
    if (!cls)
        return state->Error("Class not part of reflection");
    if (!cls->GetMoveHook().CanCall())
        return state->Error("Class is not movable");
    if (!Reflection::Move(destination, source))
        return state->Error("%s", GetError());
    state->ReturnBoolean(true);
    return true;
}

bool FunctionToString(CNativeState* state, int, void*)
{
    CBaseObject* object = nullptr;
    if (!CheckObjectArgument(state, 0, object))
        return false;
    const ReflectedClass* cls = object->GetReflectedClass();
    if (!cls)
        return state->Error("Class not part of reflection");
    if (!cls->GetToStringHook().CanCall())
        return state->Error("Class doesn't implement ToString");
    std::string text;
    if (!Reflection::ToString(object, text))
        return state->Error("%s", GetError());
    state->ReturnString(text.data(), text.size());
    return true;
}

bool FunctionCreateFunction(CNativeState* state, int, void*)
{
    CFunction* function = nullptr;
    if (!state->CheckFunction(0, function))
        return false;
    if (!function) {
        state->ReturnNull();
        return true;
    }
    // Engines make their function holders without knowing the core; give them the class here.
    if (!function->GetReflectedClass() && state->GetScripting())
        function->SetReflectedClass(state->GetScripting()->GetFunctionClass());
    state->ReturnObject(function);
    return true;
}

// Calls `function` with clones of the state's arguments from `first` on; returns a clone of the
// first result, if any. A failure matters only to functions that raise it (a call into code
// that is no longer there); engines have reported every other failure themselves.
bool CallWithArguments(CNativeState* state, CFunction* function, size_t first)
{
    const size_t count = state->GetArgumentCount();
    CArgumentArray arguments(count > first ? count - first : 0);
    for (size_t i = first; i < count; ++i)
        arguments.Add(state->GetArgument(i));
    // Held for the call: the function may drop the last other reference to itself.
    Strong<CFunction> hold(function);
    auto results = MakeStrong<CReturnValue>();
    if (!hold->Call(arguments, results) && hold->RaisesFailure())
        return state->Error("%s", GetError());
    if (results->GetArrayCount() > 0)
        state->Return(results->GetAt(0));
    return true;
}

bool FunctionCall(CNativeState* state, int, void*)
{
    const ReflectedClass* functionClass = state->GetScripting() ? state->GetScripting()->GetFunctionClass() : nullptr;
    CFunction* function = nullptr;
    if (!state->CheckClass(functionClass, 0, false, function))
        return false;
    return CallWithArguments(state, function, 1);
}

} // namespace

bool Reflection::FunctionTrampoline(CNativeState* state, int, void* privateData)
{
    if (auto* function = static_cast<CFunction*>(privateData))
        return CallWithArguments(state, function, 0);
    return true;
}

void CScripting::RegisterReflectionFunctions()
{
    m_pReflection->RegisterFunction("clone", "x", FunctionClone, this);
    m_pReflection->RegisterFunction("move", "xx", FunctionMove, this);
    m_pReflection->RegisterFunction("tostring", "x", FunctionToString, this);
    m_pReflection->RegisterFunction("createFunction", "c", FunctionCreateFunction, this);
    m_pReflection->RegisterFunction("call", "x", FunctionCall, this);
}

} // namespace Corvane3D
