#include "Engine/BaseObject.h"

#include <cstring>
#include <new>

namespace Corvane3D {

int32_t CBaseObject::Release()
{
    const int32_t previous = m_refCount.fetch_sub(1, std::memory_order_acq_rel);
    if (previous > 1)
        return previous - 1;
    // A destructor callback that takes and drops a temporary reference lands here.
    if (m_destroying)
        return 0;
    // A live JavaScript wrapper vetoes: its finaliser obliterates the object later.
    if (m_jsUserData && m_jsUserData->Destruct())
        return 0;
    Obliterate();
    return 0;
}

void CBaseObject::Obliterate()
{
    m_destroying = true;
    if (!m_slotPool) {
        delete this;
        return;
    }
    CSlotPool* pool = m_slotPool;
    this->~CBaseObject();
    pool->Free(this);
}

void CBaseObject::CreateReference(CBaseObject** slot)
{
    if (slot)
        m_weakSlots.insert(slot);
}

void CBaseObject::RemoveReference(CBaseObject** slot)
{
    m_weakSlots.erase(slot);
}

void CBaseObject::NullWeakSlots()
{
    for (CBaseObject** slot : m_weakSlots)
        *slot = nullptr;
    m_weakSlots.clear();
}

CBaseObject::~CBaseObject()
{
    m_destroying = true;
    NullWeakSlots();
    m_moduleDestructor.reset();
    m_luaReference.reset();
    m_jsUserData.reset();
    m_squirrelReference.reset();
    // The callbacks above may have registered further weak slots.
    NullWeakSlots();
    std::unordered_set<CBaseObject**>().swap(m_weakSlots);
}

CSlotPool::CSlotPool(size_t slotSize, size_t slotCount)
    : m_slotSize(slotSize ? slotSize : 1),
      m_slotCount(slotCount),
      m_storage(new unsigned char[m_slotSize * slotCount]),
      m_records(new Record[slotCount]())
{
}

CSlotPool::~CSlotPool() = default;

void* CSlotPool::Allocate(size_t bytes)
{
    const size_t run = (bytes + m_slotSize - 1) / m_slotSize;
    if (run == 0 || run > 0xFFFF || m_firstFree < 0)
        return nullptr;
    for (size_t start = size_t(m_firstFree); start + run <= m_slotCount; ++start) {
        size_t i = 0;
        while (i < run && !m_records[start + i].inUse)
            ++i;
        if (i != run) {
            start += i;
            continue;
        }
        for (i = 0; i < run; ++i)
            m_records[start + i].inUse = 1;
        m_records[start].runLength = uint16_t(run);
        m_used += run;
        if (long(start) == m_firstFree) {
            size_t next = start + run;
            while (next < m_slotCount && m_records[next].inUse)
                ++next;
            m_firstFree = next < m_slotCount ? long(next) : -1;
        }
        return m_storage.get() + start * m_slotSize;
    }
    return nullptr;
}

void CSlotPool::Free(void* address)
{
    auto* bytes = static_cast<unsigned char*>(address);
    unsigned char* base = m_storage.get();
    if (bytes < base || bytes >= base + m_slotSize * m_slotCount)
        return;
    const size_t offset = size_t(bytes - base);
    if (offset % m_slotSize != 0)
        return;
    const size_t index = offset / m_slotSize;
    const size_t run = m_records[index].runLength;
    for (size_t i = 0; i < run && index + i < m_slotCount; ++i)
        m_records[index + i].inUse = 0;
    m_records[index].runLength = 0;
    if (m_firstFree < 0 || long(index) < m_firstFree)
        m_firstFree = long(index);
    m_used -= run;
}

} // namespace Corvane3D
