#pragma once
// The members that reflection registers: functions and properties of namespaces and classes.

#include "Engine/CorvaneNative.h"

#include <cstdint>
#include <string>

namespace Corvane3D {

// A registered function: the callable, the private pointer handed to it on every call and the
// obsolete mark (obsolete functions stay callable; the documentation marks them).
class ReflectedFunction {
public:
    ReflectedFunction(ScriptFunction function, void* privateData, bool obsolete)
        : m_bObsolete(obsolete), m_Function(std::move(function)), m_pPrivate(privateData)
    {
    }
    ReflectedFunction(const ReflectedFunction&) = delete;
    ReflectedFunction& operator=(const ReflectedFunction&) = delete;

    const char* GetName() const { return m_Function.GetName(); }
    const char* GetMask() const { return m_Function.GetMask(); }
    const ScriptFunction& GetFunction() const { return m_Function; }
    void* GetPrivate() const { return m_pPrivate; }
    bool IsObsolete() const { return m_bObsolete; }

    bool Call(CNativeState* state, int argumentCount) const { return m_Function.Call(state, argumentCount, m_pPrivate); }

private:
    bool m_bObsolete;
    ScriptFunction m_Function;
    void* m_pPrivate;
};

// A registered property: a getter (no arguments, returns the value) and an optional setter (the
// new value as argument 0). The value type is a type id, used only for documentation.
class ReflectedProperty {
public:
    ReflectedProperty(void* privateData, const char* name, uint8_t valueType, ScriptFunction getter,
                      ScriptFunction setter, bool obsolete = false)
        : m_bObsolete(obsolete),
          m_Getter(std::move(getter)),
          m_Setter(std::move(setter)),
          m_name(name ? name : ""),
          m_valueType(valueType),
          m_pPrivate(privateData)
    {
    }
    ReflectedProperty(const ReflectedProperty&) = delete;
    ReflectedProperty& operator=(const ReflectedProperty&) = delete;

    const char* GetName() const { return m_name.c_str(); }
    uint8_t GetValueType() const { return m_valueType; }
    void* GetPrivate() const { return m_pPrivate; }
    bool IsObsolete() const { return m_bObsolete; }
    bool IsReadOnly() const { return !m_Setter.CanCall(); }
    const ScriptFunction& GetGetter() const { return m_Getter; }
    const ScriptFunction& GetSetter() const { return m_Setter; }

    bool Get(CNativeState* state) const { return m_Getter.Call(state, 0, m_pPrivate); }
    bool Set(CNativeState* state) const { return m_Setter.Call(state, 1, m_pPrivate); }

private:
    bool m_bObsolete;
    ScriptFunction m_Getter;
    ScriptFunction m_Setter;
    std::string m_name;
    uint8_t m_valueType;
    void* m_pPrivate;
};

} // namespace Corvane3D
