#include "Engine/RefCounted.h"

namespace Corvane3D {

int32_t CRefCounted::Release()
{
    const int32_t previous = m_refCount.fetch_sub(1, std::memory_order_acq_rel);
    if (previous > 1)
        return previous - 1;
    delete this;
    return 0;
}

} // namespace Corvane3D
