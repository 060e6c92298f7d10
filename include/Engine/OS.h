#pragma once
// The process-wide time base and the few operating-system services the engine wraps.

#include <cstdint>

namespace Corvane3D {

// Counter value at OS::Initialise and the counter's ticks per second.
extern uint64_t g_ullStartTicks;
extern uint64_t g_ullTicksFrequency;

namespace OS {

// Picks the clock (monotonic raw, else time of day) and records the start tick.
// Every time reader calls it first, so calling it early is only a matter of when time 0 is.
void Initialise();

uint64_t GetPerformanceCounter();

// Milliseconds since start, cut to 32 bits; wraps after about 49.7 days.
uint32_t GetTicks();

// Milliseconds since start without the cut; use it where a wrap would matter.
uint64_t GetTicks64();

// Wrap-safe schedule checks on 32-bit tick values: correct across the 2^32 wrap as long as
// the two readings are less than about 24.8 days apart.
inline uint32_t TicksSince(uint32_t now, uint32_t then) { return now - then; }
inline bool HasElapsed(uint32_t now, uint32_t since, uint32_t intervalMs)
{
    return TicksSince(now, since) >= intervalMs;
}

// Sleeps the calling thread.
void SleepMilliseconds(uint32_t ms);

// Looks a symbol up in a loaded library by name, then with one leading underscore.
void* LoadFunction(void* library, const char* name);

} // namespace OS
} // namespace Corvane3D
