#include "Scripting/DefineHandlers.h"

namespace Corvane3D {

void CDefineHandlers::Define(const char* name, int32_t value)
{
    m_Defines.push_back({name ? name : "", false, uint32_t(value)});
}

void CDefineHandlers::Define(const char* name, uint32_t value)
{
    m_Defines.push_back({name ? name : "", true, value});
}

} // namespace Corvane3D
