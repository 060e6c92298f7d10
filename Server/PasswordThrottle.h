#pragma once
// How often joins may run the password check. Each check is a bcrypt at cost 10, tens of
// milliseconds on the main thread, so a flood of join requests could otherwise stall the game
// loop for every player. Two token buckets: one per address, one for the whole server.

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>

class CPasswordThrottle {
public:
    struct tLimits {
        // Checks that may run back to back.
        double m_burst;
        // Checks won back per second.
        double m_perSecond;
    };
    // A player who mistypes gets three tries at once and one more every two seconds.
    static constexpr tLimits PerAddress{3.0, 0.5};
    // Many addresses together (a flood from many hosts): at most four checks in one frame and
    // two per second after that. At roughly 85 ms per check that is one stall of about a third
    // of a second, then at most a sixth of the main thread's time.
    static constexpr tLimits Overall{4.0, 2.0};
    // Addresses remembered at once; buckets that have filled up again are forgotten first.
    static constexpr size_t MaxTrackedAddresses = 1024;

    CPasswordThrottle() : CPasswordThrottle(PerAddress, Overall) {}
    CPasswordThrottle(tLimits perAddress, tLimits overall);

    // True when a check for `address` may run now; it then takes one token from both buckets.
    // A refused attempt takes nothing.
    bool TryTake(const std::string& address, uint64_t nowMs);

    size_t GetTrackedCount() const { return m_addresses.size(); }

private:
    // Tokens are counted in millionths, so that refills add up exactly.
    static constexpr int64_t Unit = 1000000;
    struct tBucket {
        int64_t m_tokens;
        uint64_t m_updated;
    };
    struct tRate {
        int64_t m_capacity;
        int64_t m_perMillisecond;
    };

    static tRate ToRate(const tLimits& limits);
    static void Refill(tBucket& bucket, const tRate& rate, uint64_t nowMs);
    void ForgetFullBuckets(uint64_t nowMs);

    tRate m_perAddress;
    tRate m_overall;
    tBucket m_overallBucket;
    std::unordered_map<std::string, tBucket> m_addresses;
};
