#pragma once
// The frame clock: measured time per frame, clamped and scaled, split into fixed steps.

#include <cstdint>

struct FrameTimeInfo {
    uint32_t m_uiStepCount = 0;
    double m_dFixedStep = 1.0 / 60.0;
    double m_dFrameTime = 0.0;
    double m_dMaximumFrameTime = 0.0625;
    double m_dTimeScale = 1.0;
};

class CFrameClock {
public:
    // Accumulator 0, fixed step 1/60 s, maximum frame time 0.0625 s, scale 1, last counter = now.
    void Reset(uint64_t counterNow);
    // Measures the frame that ends at `counterNow`; a stall counts as the maximum frame time.
    const FrameTimeInfo& Advance(uint64_t counterNow, uint64_t ticksPerSecond);

    const FrameTimeInfo& GetInfo() const { return m_info; }
    double GetAccumulator() const { return m_dAccumulator; }

private:
    double m_dAccumulator = 0.0;
    uint64_t m_ullLastCounter = 0;
    FrameTimeInfo m_info;
};
