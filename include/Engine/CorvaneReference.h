#pragma once
// Strong<T> owns one counted reference; Weak<T> is nulled when its object dies.

#include "Engine/Assert.h"
#include "Engine/BaseObject.h"

#include <cstddef>
#include <type_traits>
#include <utility>

namespace Corvane3D {

struct AdoptRef {
};
inline constexpr AdoptRef Adopt{};

template <typename T>
class Strong {
public:
    Strong() = default;
    Strong(std::nullptr_t) {}
    Strong(T* object) : m_pRef(object)
    {
        if (m_pRef)
            m_pRef->AddRef();
    }
    // Takes over the creator's initial reference without adding one.
    Strong(T* object, AdoptRef) : m_pRef(object) {}
    Strong(const Strong& other) : Strong(other.m_pRef) {}
    Strong(Strong&& other) noexcept : m_pRef(std::exchange(other.m_pRef, nullptr)) {}
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Strong(const Strong<U>& other) : Strong(static_cast<T*>(other.Get()))
    {
    }
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Strong(Strong<U>&& other) noexcept : m_pRef(other.Detach())
    {
    }
    ~Strong()
    {
        if (m_pRef)
            m_pRef->Release();
    }

    Strong& operator=(T* object)
    {
        if (object == m_pRef)
            return *this;
        // Take the new reference first: releasing the old one may destroy the only owner of the new.
        if (object)
            object->AddRef();
        T* old = std::exchange(m_pRef, object);
        if (old)
            old->Release();
        return *this;
    }
    Strong& operator=(const Strong& other) { return *this = other.m_pRef; }
    Strong& operator=(Strong&& other) noexcept
    {
        if (this != &other) {
            T* old = std::exchange(m_pRef, std::exchange(other.m_pRef, nullptr));
            if (old)
                old->Release();
        }
        return *this;
    }
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Strong& operator=(const Strong<U>& other)
    {
        return *this = static_cast<T*>(other.Get());
    }
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    Strong& operator=(Strong<U>&& other) noexcept
    {
        T* old = std::exchange(m_pRef, other.Detach());
        if (old)
            old->Release();
        return *this;
    }
    Strong& operator=(std::nullptr_t)
    {
        Clear();
        return *this;
    }

    void Clear()
    {
        if (T* old = std::exchange(m_pRef, nullptr))
            old->Release();
    }

    // Gives up ownership without releasing; the caller now owns the reference.
    T* Detach() { return std::exchange(m_pRef, nullptr); }

    T* operator->() const
    {
        if (!m_pRef)
            ReportAssertion(__FILE__, __PRETTY_FUNCTION__, __LINE__, "m_pRef");
        return m_pRef;
    }
    T& operator*() const { return *operator->(); }
    T* Get() const { return m_pRef; }
    operator T*() const { return m_pRef; }
    explicit operator bool() const { return m_pRef != nullptr; }

private:
    T* m_pRef = nullptr;
};

// Creates a counted object and hands its initial reference to a Strong.
template <typename T, typename... Args>
Strong<T> MakeStrong(Args&&... args)
{
    return Strong<T>(new T(std::forward<Args>(args)...), Adopt);
}

template <typename T>
class Weak {
public:
    Weak() = default;
    Weak(T* object) { Set(object); }
    Weak(const Weak& other) { Set(other.Get()); }
    ~Weak() { Set(nullptr); }

    Weak& operator=(T* object)
    {
        Set(object);
        return *this;
    }
    Weak& operator=(const Weak& other)
    {
        Set(other.Get());
        return *this;
    }

    T* operator->() const
    {
        if (!m_pRef)
            ReportAssertion(__FILE__, __PRETTY_FUNCTION__, __LINE__, "m_pRef");
        return Get();
    }
    T* Get() const { return static_cast<T*>(m_pRef); }
    operator T*() const { return Get(); }
    explicit operator bool() const { return m_pRef != nullptr; }

private:
    void Set(T* object)
    {
        CBaseObject* base = object;
        if (base == m_pRef)
            return;
        if (m_pRef)
            m_pRef->RemoveReference(&m_pRef);
        m_pRef = base;
        if (m_pRef)
            m_pRef->CreateReference(&m_pRef);
    }

    // Registered by address in the object's weak-slot set, so a Weak must not be byte-copied.
    CBaseObject* m_pRef = nullptr;
};

} // namespace Corvane3D
