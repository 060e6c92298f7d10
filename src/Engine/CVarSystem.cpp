#include "Engine/CVarSystem.h"

#include "Engine/CRC32Hash.h"

namespace Corvane3D {

CVarSystem::tCVar* CVarSystem::Find(const char* name)
{
    if (!name)
        return nullptr;
    auto found = m_vars.find(CRC32Hash::HashString(name, true));
    return found == m_vars.end() ? nullptr : &found->second;
}

bool CVarSystem::Set(const char* name, const char* value, bool create)
{
    if (!name)
        return false;
    const uint32_t hash = CRC32Hash::HashString(name, true);
    auto found = m_vars.find(hash);
    if (found != m_vars.end()) {
        found->second.m_value = value ? value : "";
        return true;
    }
    if (!create)
        return false;
    m_vars.emplace(hash, tCVar{hash, name, value ? value : "", false});
    return true;
}

} // namespace Corvane3D
