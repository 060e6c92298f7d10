#include "Network/IPAddress.h"

#include <arpa/inet.h>

#include <cstdio>
#include <cstring>

namespace Corvane3D {

void CIPAddress::Clear()
{
    m_family = 0;
    m_port = 0;
    std::memset(&m_address, 0, sizeof m_address);
}

void CIPAddress::SetIPv4(uint32_t networkOrderAddress, uint16_t port)
{
    Clear();
    m_family = AF_INET;
    m_port = port;
    m_address.v4.s_addr = networkOrderAddress;
}

void CIPAddress::SetIPv6(const in6_addr& address, uint16_t port)
{
    Clear();
    m_family = AF_INET6;
    m_port = port;
    m_address.v6.address = address;
}

int CIPAddress::GetIPVersion() const
{
    switch (m_family) {
    case AF_INET:
        return 4;
    case AF_INET6:
        return 6;
    default:
        return 0;
    }
}

bool CIPAddress::ToString(char* buffer, size_t size, bool withPort) const
{
    if (!buffer || size == 0)
        return false;
    buffer[0] = '\0';
    char host[INET6_ADDRSTRLEN];
    const void* source = IsIPv6() ? static_cast<const void*>(&m_address.v6.address)
                                  : static_cast<const void*>(&m_address.v4);
    if (GetIPVersion() == 0 || !inet_ntop(m_family, source, host, sizeof host))
        return false;
    // Cut to the caller's buffer rather than fail: callers size it for the longest address they show.
    if (!withPort)
        std::snprintf(buffer, size, "%s", host);
    else if (IsIPv6())
        std::snprintf(buffer, size, "[%s]:%u", host, unsigned(m_port));
    else
        std::snprintf(buffer, size, "%s:%u", host, unsigned(m_port));
    return true;
}

std::string CIPAddress::ToString(bool withPort) const
{
    char text[INET6_ADDRSTRLEN + 16];
    return ToString(text, sizeof text, withPort) ? std::string(text) : std::string();
}

} // namespace Corvane3D
