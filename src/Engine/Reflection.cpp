#include "Engine/Reflection.h"

#include "Engine/ObjectValue.h"
#include "Engine/Scripting.h"

#include <cstring>

namespace Corvane3D {

void** ReflectedUserData::AddUserData(uint32_t engineId, Deleter deleter)
{
    if (m_count >= MaxEntries)
        return nullptr;
    Entry& entry = m_entries[m_count++];
    entry = Entry{engineId, deleter, nullptr};
    return &entry.data;
}

void* ReflectedUserData::GetUserData(uint32_t engineId) const
{
    for (size_t i = 0; i < m_count; ++i) {
        if (m_entries[i].engineId == engineId)
            return m_entries[i].data;
    }
    return nullptr;
}

void ReflectedUserData::Clear()
{
    // A deleter may look at the list again; each entry is taken out before its deleter runs.
    for (size_t i = 0; i < m_count; ++i) {
        Entry entry = std::exchange(m_entries[i], Entry{});
        if (entry.deleter)
            entry.deleter(&entry.data);
    }
    m_count = 0;
}

namespace {

bool SameName(const char* a, const char* b)
{
    return a && b && std::strcmp(a, b) == 0;
}

} // namespace

ReflectedClass::~ReflectedClass()
{
    m_UserData.Clear();
}

ReflectedFunction* ReflectedClass::RegisterFunction(const char* name, const char* mask, NativeFunction native,
                                                    void* privateData, bool obsolete)
{
    return RegisterFunction(ScriptFunction(name, mask, native), privateData, obsolete);
}

ReflectedFunction* ReflectedClass::RegisterFunction(ScriptFunction function, void* privateData, bool obsolete)
{
    m_Functions.push_back(std::make_unique<ReflectedFunction>(std::move(function), privateData, obsolete));
    return m_Functions.back().get();
}

ReflectedProperty* ReflectedClass::AddProperty(void* privateData, const char* name, uint8_t valueType,
                                               NativeFunction getter, NativeFunction setter)
{
    return AddProperty(std::make_unique<ReflectedProperty>(privateData, name, valueType,
                                                           ScriptFunction("", "t", getter),
                                                           ScriptFunction("", "t", setter)));
}

ReflectedProperty* ReflectedClass::AddProperty(std::unique_ptr<ReflectedProperty> property)
{
    m_Properties.push_back(std::move(property));
    return m_Properties.back().get();
}

void ReflectedClass::RegisterConstructor(const char* mask, NativeFunction native, void* privateData)
{
    RegisterConstructor(ScriptFunction(GetName(), mask, native), privateData);
}

void ReflectedClass::RegisterConstructor(ScriptFunction function, void* privateData)
{
    m_Constructor = Hook{std::move(function), privateData};
}

void ReflectedClass::RegisterClone(NativeFunction native, void* privateData)
{
    RegisterClone(ScriptFunction("clone", "t", native), privateData);
}

void ReflectedClass::RegisterMove(NativeFunction native, void* privateData)
{
    RegisterMove(ScriptFunction("move", "t", native), privateData);
}

void ReflectedClass::RegisterToString(NativeFunction native, void* privateData)
{
    RegisterToString(ScriptFunction("toString", "t", native), privateData);
}

void ReflectedClass::RegisterClone(ScriptFunction function, void* privateData)
{
    m_Clone = Hook{std::move(function), privateData};
}

void ReflectedClass::RegisterMove(ScriptFunction function, void* privateData)
{
    m_Move = Hook{std::move(function), privateData};
}

void ReflectedClass::RegisterToString(ScriptFunction function, void* privateData)
{
    m_ToString = Hook{std::move(function), privateData};
}

ReflectedFunction* ReflectedClass::GetFunction(const char* name) const
{
    for (const auto& function : m_Functions) {
        if (SameName(function->GetName(), name))
            return function.get();
    }
    return nullptr;
}

ReflectedProperty* ReflectedClass::GetProperty(const char* name) const
{
    for (const ReflectedClass* cls = this; cls; cls = cls->m_pParentClass) {
        for (const auto& property : cls->m_Properties) {
            if (SameName(property->GetName(), name))
                return property.get();
        }
    }
    SetError("Property %s not found.", name ? name : "");
    return nullptr;
}

void ReflectedClass::Clear()
{
    m_UserData.Clear();
    m_Functions.clear();
    m_Properties.clear();
    m_Constructor = Hook{};
    m_Clone = Hook{};
    m_Move = Hook{};
    m_ToString = Hook{};
}

ReflectedNamespace::~ReflectedNamespace()
{
    Clear();
}

void ReflectedNamespace::SetAlias(const char* alias)
{
    if (alias)
        m_alias = alias;
    else
        m_alias.reset();
}

ReflectedFunction* ReflectedNamespace::RegisterFunction(const char* name, const char* mask, NativeFunction native,
                                                        void* privateData, bool obsolete)
{
    return RegisterFunction(ScriptFunction(name, mask, native), privateData, obsolete);
}

ReflectedFunction* ReflectedNamespace::RegisterFunction(ScriptFunction function, void* privateData, bool obsolete)
{
    m_Functions.push_back(std::make_unique<ReflectedFunction>(std::move(function), privateData, obsolete));
    return m_Functions.back().get();
}

ReflectedProperty* ReflectedNamespace::AddProperty(void* privateData, const char* name, uint8_t valueType,
                                                   NativeFunction getter, NativeFunction setter)
{
    return AddProperty(std::make_unique<ReflectedProperty>(privateData, name, valueType, ScriptFunction("", "", getter),
                                                           ScriptFunction("", "", setter)));
}

ReflectedProperty* ReflectedNamespace::AddProperty(std::unique_ptr<ReflectedProperty> property)
{
    m_Properties.push_back(std::move(property));
    return m_Properties.back().get();
}

ReflectedClass* ReflectedNamespace::NewClass(const char* name, ReflectedClass* parent)
{
    return RegisterClassPtr(std::make_unique<ReflectedClass>(name, parent));
}

ReflectedClass* ReflectedNamespace::RegisterClassPtr(std::unique_ptr<ReflectedClass> cls)
{
    if (!cls)
        return nullptr;
    ReflectedClass* raw = cls.get();
    m_Classes.push_back(std::move(cls));
    const char* name = raw->GetName();
    if (std::strcmp(name, "Stream") == 0)
        m_pStreamClass = raw;
    else if (std::strcmp(name, "Matrix4x4") == 0)
        m_pMatrix4x4Class = raw;
    else if (std::strcmp(name, "Vec2") == 0)
        m_pVector2DClass = raw;
    else if (std::strcmp(name, "Vec3") == 0)
        m_pVector3DClass = raw;
    return raw;
}

ReflectedNamespace* ReflectedNamespace::AddNamespace(const char* name)
{
    for (const auto& child : m_Namespaces) {
        if (SameName(child->GetName(), name ? name : ""))
            return child.get();
    }
    m_Namespaces.push_back(std::make_unique<ReflectedNamespace>(name));
    return m_Namespaces.back().get();
}

ReflectedNamespace* ReflectedNamespace::GetNamespace(const char* name) const
{
    for (const auto& child : m_Namespaces) {
        if (SameName(child->GetName(), name))
            return child.get();
    }
    SetError("Namespace %s not found.", name ? name : "");
    return nullptr;
}

ReflectedFunction* ReflectedNamespace::GetFunction(const char* name) const
{
    for (const auto& function : m_Functions) {
        if (SameName(function->GetName(), name))
            return function.get();
    }
    return nullptr;
}

ReflectedProperty* ReflectedNamespace::GetProperty(const char* name) const
{
    for (const auto& property : m_Properties) {
        if (SameName(property->GetName(), name))
            return property.get();
    }
    return nullptr;
}

ReflectedClass* ReflectedNamespace::GetClass(const char* name) const
{
    for (const auto& cls : m_Classes) {
        if (SameName(cls->GetName(), name))
            return cls.get();
    }
    return nullptr;
}

void ReflectedNamespace::ClearUserData()
{
    for (const auto& cls : m_Classes)
        cls->GetUserData().Clear();
    for (const auto& child : m_Namespaces)
        child->ClearUserData();
}

void ReflectedNamespace::Clear()
{
    ClearUserData();
    for (const auto& child : m_Namespaces)
        child->Clear();
    m_Namespaces.clear();
    m_Classes.clear();
    m_Properties.clear();
    m_Functions.clear();
    m_pStreamClass = nullptr;
    m_pMatrix4x4Class = nullptr;
    m_pVector2DClass = nullptr;
    m_pVector3DClass = nullptr;
}

namespace Reflection {

Strong<CBaseObject> Construct(CScripting* scripting, ReflectedClass* cls)
{
    if (!cls || !cls->IsConstructable()) {
        SetError("Class is not constructable");
        return nullptr;
    }
    const ReflectedClass::Hook& constructor = cls->GetConstructor();
    CNativeState state(scripting, nullptr, nullptr);
    if (!constructor.m_Function.Call(&state, 0, constructor.m_pPrivate))
        return nullptr;
    const CReturnValue& results = state.GetReturnValue();
    if (results.GetArrayCount() == 0) {
        SetError("Constructor didn't return anything");
        return nullptr;
    }
    const CArgument* first = results.GetAt(0);
    if (!first->IsObject()) {
        SetError("Constructor didn't return object");
        return nullptr;
    }
    CBaseObject* object = first->ToObject();
    if (!object) {
        SetError("Constructor returned null");
        return nullptr;
    }
    return Strong<CBaseObject>(object);
}

Strong<CArgument> ToArgument(CBaseObject* object, CScripting* scripting)
{
    if (!object)
        return CArgument::Create(nullptr);
    const ReflectedClass* cls = object->GetReflectedClass();
    const ReflectedNamespace* global = scripting ? scripting->GetGlobal() : nullptr;
    if (cls && global) {
        // Objects of a well-known class whose native type does not match (a module's own class
        // derived from it) fall through to their own value.
        if (global->GetMatrix4x4Class() && cls->IsA(global->GetMatrix4x4Class())) {
            if (auto* matrix = dynamic_cast<CObjectValue<CMatrix4x4>*>(object))
                return MakeStrong<CArgumentMatrix4x4>(matrix->Value());
        }
        if (global->GetVector3DClass() && cls->IsA(global->GetVector3DClass())) {
            if (auto* vector = dynamic_cast<CObjectValue<CVector3D>*>(object))
                return MakeStrong<CArgumentVector3D>(vector->Value());
        }
        if (global->GetVector2DClass() && cls->IsA(global->GetVector2DClass())) {
            if (auto* vector = dynamic_cast<CObjectValue<CVector2D>*>(object))
                return MakeStrong<CArgumentVector2D>(vector->Value());
        }
    }
    return CArgument::Create(object);
}

Strong<CBaseObject> Clone(CBaseObject* object)
{
    const ReflectedClass* cls = object ? object->GetReflectedClass() : nullptr;
    if (!cls || !cls->GetCloneHook().CanCall()) {
        SetError("Class is not cloneable");
        return nullptr;
    }
    const ReflectedClass::Hook& hook = cls->GetCloneHook();
    CNativeState state(nullptr, nullptr, nullptr);
    state.SetThis(object);
    if (!hook.m_Function.Call(&state, 0, hook.m_pPrivate))
        return nullptr;
    const CReturnValue& results = state.GetReturnValue();
    const CArgument* first = results.GetAt(0);
    if (!first || !first->IsObject() || !first->ToObject()) {
        SetError("Clone didn't return anything");
        return nullptr;
    }
    return Strong<CBaseObject>(first->ToObject());
}

bool Move(CBaseObject* destination, CBaseObject* source)
{
    const ReflectedClass* cls = destination ? destination->GetReflectedClass() : nullptr;
    if (!cls || !cls->GetMoveHook().CanCall())
        return SetError("Class is not movable");
    const ReflectedClass::Hook& hook = cls->GetMoveHook();
    CArgumentArray arguments(1);
    arguments.AddAndOwn(MakeStrong<CArgumentObject>(source));
    CNativeState state(nullptr, nullptr, &arguments);
    state.SetThis(destination);
    return hook.m_Function.Call(&state, 1, hook.m_pPrivate);
}

bool ToString(CBaseObject* object, std::string& out)
{
    const ReflectedClass* cls = object ? object->GetReflectedClass() : nullptr;
    if (!cls || !cls->GetToStringHook().CanCall())
        return SetError("Class doesn't implement ToString");
    const ReflectedClass::Hook& hook = cls->GetToStringHook();
    CNativeState state(nullptr, nullptr, nullptr);
    state.SetThis(object);
    if (!hook.m_Function.Call(&state, 0, hook.m_pPrivate))
        return false;
    const CArgument* first = state.GetReturnValue().GetAt(0);
    if (!first)
        return SetError("ToString didn't return anything");
    if (!first->IsString())
        return SetError("ToString didn't return a string");
    size_t length = 0;
    const char* text = first->ToString(&length);
    out.assign(text, length);
    return true;
}

} // namespace Reflection
} // namespace Corvane3D
