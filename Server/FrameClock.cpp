#include "FrameClock.h"

#include <algorithm>
#include <cmath>

void CFrameClock::Reset(uint64_t counterNow)
{
    m_dAccumulator = 0.0;
    m_info = FrameTimeInfo{};
    m_ullLastCounter = counterNow;
}

const FrameTimeInfo& CFrameClock::Advance(uint64_t counterNow, uint64_t ticksPerSecond)
{
    const double elapsed = ticksPerSecond ? double(counterNow - m_ullLastCounter) / double(ticksPerSecond) : 0.0;
    m_ullLastCounter = counterNow;
    m_info.m_dFrameTime = std::min(elapsed, m_info.m_dMaximumFrameTime) * m_info.m_dTimeScale;
    const double sum = m_dAccumulator + m_info.m_dFrameTime;
    const double steps = std::floor(sum / m_info.m_dFixedStep);
    m_info.m_uiStepCount = uint32_t(steps);
    m_dAccumulator = sum - steps * m_info.m_dFixedStep;
    return m_info;
}
