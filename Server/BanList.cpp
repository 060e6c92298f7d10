#include "BanList.h"

#include "Engine/OS.h"

bool CBanList::IsBanned(const std::string& address)
{
    return IsBanned(address, Corvane3D::OS::GetTicks64());
}

bool CBanList::IsBanned(const std::string& address, uint64_t nowMs)
{
    auto found = m_entries.find(address);
    if (found == m_entries.end())
        return false;
    if (found->second.m_expiry == 0 || found->second.m_expiry > nowMs)
        return true;
    m_entries.erase(found);
    return false;
}

void CBanList::Ban(const std::string& address, uint32_t durationMs)
{
    Ban(address, durationMs, Corvane3D::OS::GetTicks64());
}

void CBanList::Ban(const std::string& address, uint32_t durationMs, uint64_t nowMs)
{
    m_entries.erase(address);
    m_entries.emplace(address, tEntry{address, durationMs == 0 ? 0 : nowMs + durationMs});
}

bool CBanList::Unban(const std::string& address)
{
    return m_entries.erase(address) > 0;
}
