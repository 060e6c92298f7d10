#pragma once
// The scriptable engine object: reference counted, weakly referenceable, with one record
// per script engine that may keep it alive while a script wrapper exists.

#include "Engine/RefCounted.h"

#include <memory>
#include <unordered_set>

namespace Corvane3D {

class CArgument;
class ReflectedClass;

// A script engine's per-object record.
class IUserData {
public:
    virtual ~IUserData() = default;
    // True when a script wrapper is still alive and the engine will finish the object later.
    virtual bool Destruct() { return false; }
};

// Fixed-size slot pool that objects may be carved from (see CBaseObject::Obliterate).
class CSlotPool;

class CBaseObject : public CRefCounted {
public:
    CBaseObject() = default;

    int32_t Release() override;
    virtual ReflectedClass* GetReflectedClass() const { return m_reflectedClass; }
    // A new script value referring to this object (one reference handed to the caller): by
    // default an instance value holding a strong reference; elements return element values.
    virtual CArgument* CreateArgument();

    // Destroys the object now, whatever its count.
    void Obliterate();

    // Registers the address of a pointer variable that is nulled when this object dies.
    void CreateReference(CBaseObject** slot);
    void RemoveReference(CBaseObject** slot);

    bool IsDestroying() const { return m_destroying; }

    void SetPrivate(void* data) { m_private = data; }
    void* GetPrivate() const { return m_private; }

    void SetReflectedClass(ReflectedClass* reflectedClass) { m_reflectedClass = reflectedClass; }

    // Binding records, owned by the object and destroyed with it.
    void SetModuleDestructor(std::unique_ptr<IUserData> record) { m_moduleDestructor = std::move(record); }
    void SetLuaReference(std::unique_ptr<IUserData> record) { m_luaReference = std::move(record); }
    IUserData* GetLuaReference() const { return m_luaReference.get(); }
    void SetJSUserData(std::unique_ptr<IUserData> record) { m_jsUserData = std::move(record); }
    IUserData* GetJSUserData() const { return m_jsUserData.get(); }
    // Hands the JavaScript record back without destroying it (the engine's finaliser owns it then).
    std::unique_ptr<IUserData> TakeJSUserData() { return std::move(m_jsUserData); }
    void SetSquirrelReference(std::unique_ptr<IUserData> record) { m_squirrelReference = std::move(record); }
    IUserData* GetSquirrelReference() const { return m_squirrelReference.get(); }

    void SetSlotPool(CSlotPool* pool) { m_slotPool = pool; }

protected:
    ~CBaseObject() override;

private:
    void NullWeakSlots();

    bool m_destroying = false;
    void* m_private = nullptr;
    std::unique_ptr<IUserData> m_moduleDestructor;
    std::unique_ptr<IUserData> m_luaReference;
    std::unique_ptr<IUserData> m_jsUserData;
    std::unique_ptr<IUserData> m_squirrelReference;
    std::unordered_set<CBaseObject**> m_weakSlots;
    CSlotPool* m_slotPool = nullptr;
    ReflectedClass* m_reflectedClass = nullptr;
};

// An array of equal-sized slots with one record per slot. Objects placed in it return their
// slot on destruction instead of freeing memory.
class CSlotPool {
public:
    CSlotPool(size_t slotSize, size_t slotCount);
    ~CSlotPool();
    CSlotPool(const CSlotPool&) = delete;
    CSlotPool& operator=(const CSlotPool&) = delete;

    // Storage for an object of `bytes` bytes (a run of slots), or null when full.
    void* Allocate(size_t bytes);
    // Returns the run that starts at `address`; addresses outside or off a boundary are ignored.
    void Free(void* address);

    size_t GetUsedSlots() const { return m_used; }

private:
    struct Record {
        uint16_t inUse;
        uint16_t runLength;
    };
    size_t m_slotSize;
    size_t m_slotCount;
    std::unique_ptr<unsigned char[]> m_storage;
    std::unique_ptr<Record[]> m_records;
    long m_firstFree = 0;
    size_t m_used = 0;
};

} // namespace Corvane3D
