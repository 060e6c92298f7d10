#pragma once
// A namespace as scripts see it: functions (called without `this`), properties, classes and
// child namespaces. A namespace owns everything registered in it.

#include "Engine/ReflectedClass.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Corvane3D {

class ReflectedNamespace {
public:
    explicit ReflectedNamespace(const char* name) : m_name(name ? name : "") {}
    ~ReflectedNamespace();
    ReflectedNamespace(const ReflectedNamespace&) = delete;
    ReflectedNamespace& operator=(const ReflectedNamespace&) = delete;

    const char* GetName() const { return m_name.c_str(); }
    // A second name under which the engines also publish the namespace; null when none.
    const char* GetAlias() const { return m_alias ? m_alias->c_str() : nullptr; }
    void SetAlias(const char* alias);

    // Registration keeps order and does not look for duplicate names.
    ReflectedFunction* RegisterFunction(const char* name, const char* mask, NativeFunction native,
                                        void* privateData = nullptr, bool obsolete = false);
    ReflectedFunction* RegisterFunction(ScriptFunction function, void* privateData = nullptr, bool obsolete = false);
    // A property whose getter and setter are named "" with the mask ""; no setter: read-only.
    ReflectedProperty* AddProperty(void* privateData, const char* name, uint8_t valueType, NativeFunction getter,
                                   NativeFunction setter = nullptr);
    ReflectedProperty* AddProperty(std::unique_ptr<ReflectedProperty> property);
    // Creates a class and registers it here.
    ReflectedClass* NewClass(const char* name, ReflectedClass* parent = nullptr);
    // Appends a class; one named exactly "Stream", "Matrix4x4", "Vec2" or "Vec3" becomes that
    // well-known class of this namespace.
    ReflectedClass* RegisterClassPtr(std::unique_ptr<ReflectedClass> cls);
    // The child of exactly that name, created when missing.
    ReflectedNamespace* AddNamespace(const char* name);
    // The child of exactly that name; none sets "Namespace %s not found." and gives null.
    ReflectedNamespace* GetNamespace(const char* name) const;

    // First of that exact name, or null (no error text).
    ReflectedFunction* GetFunction(const char* name) const;
    ReflectedProperty* GetProperty(const char* name) const;
    ReflectedClass* GetClass(const char* name) const;

    const std::vector<std::unique_ptr<ReflectedFunction>>& GetFunctions() const { return m_Functions; }
    const std::vector<std::unique_ptr<ReflectedProperty>>& GetProperties() const { return m_Properties; }
    const std::vector<std::unique_ptr<ReflectedClass>>& GetClasses() const { return m_Classes; }
    const std::vector<std::unique_ptr<ReflectedNamespace>>& GetNamespaces() const { return m_Namespaces; }

    ReflectedClass* GetStreamClass() const { return m_pStreamClass; }
    ReflectedClass* GetMatrix4x4Class() const { return m_pMatrix4x4Class; }
    ReflectedClass* GetVector2DClass() const { return m_pVector2DClass; }
    ReflectedClass* GetVector3DClass() const { return m_pVector3DClass; }

    void* GetModuleInterface() const { return m_pModuleInterface; }
    void SetModuleInterface(void* wrapper) { m_pModuleInterface = wrapper; }

    // Destroys everything registered here and in the children. Every class's engine records are
    // released first, across the whole tree, so that no engine deleter sees a destroyed parent.
    void Clear();

private:
    void ClearUserData();

    void* m_pModuleInterface = nullptr;
    std::string m_name;
    std::optional<std::string> m_alias;
    std::vector<std::unique_ptr<ReflectedFunction>> m_Functions;
    std::vector<std::unique_ptr<ReflectedProperty>> m_Properties;
    std::vector<std::unique_ptr<ReflectedClass>> m_Classes;
    std::vector<std::unique_ptr<ReflectedNamespace>> m_Namespaces;
    ReflectedClass* m_pStreamClass = nullptr;
    ReflectedClass* m_pMatrix4x4Class = nullptr;
    ReflectedClass* m_pVector2DClass = nullptr;
    ReflectedClass* m_pVector3DClass = nullptr;
};

} // namespace Corvane3D
