#include "PasswordThrottle.h"

#include <algorithm>
#include <cmath>

CPasswordThrottle::CPasswordThrottle(tLimits perAddress, tLimits overall)
    : m_perAddress(ToRate(perAddress)), m_overall(ToRate(overall)), m_overallBucket{m_overall.m_capacity, 0}
{
}

CPasswordThrottle::tRate CPasswordThrottle::ToRate(const tLimits& limits)
{
    return {std::llround(limits.m_burst * Unit), std::llround(limits.m_perSecond * Unit / 1000.0)};
}

void CPasswordThrottle::Refill(tBucket& bucket, const tRate& rate, uint64_t nowMs)
{
    // A reading from before the last one gives nothing back.
    if (nowMs <= bucket.m_updated)
        return;
    const uint64_t elapsed = nowMs - bucket.m_updated;
    bucket.m_updated = nowMs;
    if (rate.m_perMillisecond <= 0)
        return;
    // Compared before multiplying, so that a long pause cannot overflow the product.
    const int64_t missing = rate.m_capacity - bucket.m_tokens;
    if (elapsed > uint64_t(missing / rate.m_perMillisecond))
        bucket.m_tokens = rate.m_capacity;
    else
        bucket.m_tokens = std::min(rate.m_capacity, bucket.m_tokens + int64_t(elapsed) * rate.m_perMillisecond);
}

void CPasswordThrottle::ForgetFullBuckets(uint64_t nowMs)
{
    for (auto it = m_addresses.begin(); it != m_addresses.end();) {
        Refill(it->second, m_perAddress, nowMs);
        if (it->second.m_tokens >= m_perAddress.m_capacity)
            it = m_addresses.erase(it);
        else
            ++it;
    }
}

bool CPasswordThrottle::TryTake(const std::string& address, uint64_t nowMs)
{
    Refill(m_overallBucket, m_overall, nowMs);
    if (m_overallBucket.m_tokens < Unit)
        return false;

    auto found = m_addresses.find(address);
    if (found == m_addresses.end()) {
        if (m_addresses.size() >= MaxTrackedAddresses)
            ForgetFullBuckets(nowMs);
        // Every remembered address is still cooling down: the table stays bounded and the
        // newcomer waits like everyone else.
        if (m_addresses.size() >= MaxTrackedAddresses)
            return false;
        found = m_addresses.emplace(address, tBucket{m_perAddress.m_capacity, nowMs}).first;
    } else {
        Refill(found->second, m_perAddress, nowMs);
    }
    if (found->second.m_tokens < Unit)
        return false;
    found->second.m_tokens -= Unit;
    m_overallBucket.m_tokens -= Unit;
    return true;
}
