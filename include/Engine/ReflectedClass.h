#pragma once
// A class as scripts see it. Values need only its parent chain to decide whether an object
// is an instance of a class or of one derived from it.

#include <string>

namespace Corvane3D {

class ReflectedClass {
public:
    explicit ReflectedClass(const char* name, ReflectedClass* parent = nullptr)
        : m_name(name ? name : ""), m_pParentClass(parent)
    {
    }
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

private:
    std::string m_name;
    ReflectedClass* m_pParentClass;
};

} // namespace Corvane3D
