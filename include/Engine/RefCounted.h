#pragma once
// Root classes of the engine's reference-counted objects.

#include <atomic>
#include <cstdint>

namespace Corvane3D {

class CBase {
public:
    virtual ~CBase() = default;
};

// Atomically counted; the creator owns the first reference.
class CRefCounted : public CBase {
public:
    CRefCounted() = default;
    CRefCounted(const CRefCounted&) = delete;
    CRefCounted& operator=(const CRefCounted&) = delete;

    virtual int32_t GetRefCount() const { return m_refCount.load(std::memory_order_acquire); }
    virtual int32_t AddRef() { return m_refCount.fetch_add(1, std::memory_order_acq_rel) + 1; }
    // Count after the decrement; 0 when the object was destroyed.
    virtual int32_t Release();

protected:
    ~CRefCounted() override = default;

    std::atomic<int32_t> m_refCount{1};
};

} // namespace Corvane3D
