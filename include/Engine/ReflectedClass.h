#pragma once
// A class as scripts see it: its parent chain, methods, properties, constructor and the clone,
// move and to-string hooks, plus the per-engine records the script engines keep for it.

#include "Engine/CorvaneNative.h"
#include "Engine/ReflectedFunction.h"
#include "Engine/ReflectedUserData.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Corvane3D {

class ReflectedClass {
public:
    // A class hook: the callable and its private pointer.
    struct Hook {
        ScriptFunction m_Function;
        void* m_pPrivate = nullptr;

        bool CanCall() const { return m_Function.CanCall(); }
    };

    explicit ReflectedClass(const char* name, ReflectedClass* parent = nullptr)
        : m_name(name ? name : ""), m_pParentClass(parent)
    {
    }
    ~ReflectedClass();
    ReflectedClass(const ReflectedClass&) = delete;
    ReflectedClass& operator=(const ReflectedClass&) = delete;

    const char* GetName() const { return m_name.c_str(); }
    ReflectedClass* GetParentClass() const { return m_pParentClass; }

    // True when `other` is this class or one of its parents.
    bool IsA(const ReflectedClass* other) const
    {
        for (const ReflectedClass* cls = this; cls; cls = cls->m_pParentClass) {
            if (cls == other)
                return true;
        }
        return false;
    }

    // Methods are always called with a `this` object.
    ReflectedFunction* RegisterFunction(const char* name, const char* mask, NativeFunction native,
                                        void* privateData = nullptr, bool obsolete = false);
    ReflectedFunction* RegisterFunction(ScriptFunction function, void* privateData = nullptr, bool obsolete = false);
    // A property whose getter and setter are named "" with the mask "t"; no setter: read-only.
    ReflectedProperty* AddProperty(void* privateData, const char* name, uint8_t valueType, NativeFunction getter,
                                   NativeFunction setter = nullptr);
    ReflectedProperty* AddProperty(std::unique_ptr<ReflectedProperty> property);
    // Replaces the constructor; it is named after the class.
    void RegisterConstructor(const char* mask, NativeFunction native, void* privateData = nullptr);
    void RegisterConstructor(ScriptFunction function, void* privateData = nullptr);
    // Replace the hooks, named "clone", "move" and "toString" with the mask "t".
    void RegisterClone(NativeFunction native, void* privateData = nullptr);
    void RegisterMove(NativeFunction native, void* privateData = nullptr);
    void RegisterToString(NativeFunction native, void* privateData = nullptr);
    void RegisterClone(ScriptFunction function, void* privateData = nullptr);
    void RegisterMove(ScriptFunction function, void* privateData = nullptr);
    void RegisterToString(ScriptFunction function, void* privateData = nullptr);

    const Hook& GetConstructor() const { return m_Constructor; }
    const Hook& GetCloneHook() const { return m_Clone; }
    const Hook& GetMoveHook() const { return m_Move; }
    const Hook& GetToStringHook() const { return m_ToString; }
    bool IsConstructable() const { return m_Constructor.CanCall(); }

    const std::vector<std::unique_ptr<ReflectedFunction>>& GetFunctions() const { return m_Functions; }
    const std::vector<std::unique_ptr<ReflectedProperty>>& GetProperties() const { return m_Properties; }

    // The first own method of that exact name, or null.
    ReflectedFunction* GetFunction(const char* name) const;
    // This class's property of that exact name, else the nearest parent's; not found sets
    // "Property %s not found." and gives null.
    ReflectedProperty* GetProperty(const char* name) const;

    ReflectedUserData& GetUserData() { return m_UserData; }
    const ReflectedUserData& GetUserData() const { return m_UserData; }

    // The module interface's wrapper of this class, cached by that interface.
    void* GetModuleInterface() const { return m_pModuleInterface; }
    void SetModuleInterface(void* wrapper) { m_pModuleInterface = wrapper; }

    // Runs the engines' deleters, then drops the members and hooks.
    void Clear();

private:
    void* m_pModuleInterface = nullptr;
    std::string m_name;
    ReflectedClass* m_pParentClass;
    ReflectedUserData m_UserData;
    Hook m_Constructor;
    Hook m_Clone;
    Hook m_Move;
    Hook m_ToString;
    std::vector<std::unique_ptr<ReflectedFunction>> m_Functions;
    std::vector<std::unique_ptr<ReflectedProperty>> m_Properties;
};

} // namespace Corvane3D
