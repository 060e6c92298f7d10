#include "Engine/OS.h"

#include <dlfcn.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <string>

namespace Corvane3D {

uint64_t g_ullStartTicks = 0;
uint64_t g_ullTicksFrequency = 0;

namespace {

std::atomic<bool> g_initialised{false};
bool g_useRawClock = false;

uint64_t ReadCounter()
{
    if (g_useRawClock) {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC_RAW, &ts);
        return uint64_t(ts.tv_sec) * 1000000000ull + uint64_t(ts.tv_nsec);
    }
    timeval tv{};
    gettimeofday(&tv, nullptr);
    return uint64_t(tv.tv_sec) * 1000000ull + uint64_t(tv.tv_usec);
}

} // namespace

namespace OS {

void Initialise()
{
    if (g_initialised.load(std::memory_order_acquire))
        return;
    timespec ts{};
    g_useRawClock = clock_gettime(CLOCK_MONOTONIC_RAW, &ts) == 0;
    g_ullTicksFrequency = g_useRawClock ? 1000000000ull : 1000000ull;
    g_ullStartTicks = ReadCounter();
    g_initialised.store(true, std::memory_order_release);
}

uint64_t GetPerformanceCounter()
{
    Initialise();
    return ReadCounter();
}

uint64_t GetTicks64()
{
    Initialise();
    // Modular subtraction keeps the difference right even if the start tick was moved.
    const uint64_t delta = ReadCounter() - g_ullStartTicks;
    // Split so that delta * 1000 cannot overflow 64 bits (it would after ~213 days of nanoseconds).
    return (delta / g_ullTicksFrequency) * 1000 + (delta % g_ullTicksFrequency) * 1000 / g_ullTicksFrequency;
}

uint32_t GetTicks()
{
    return uint32_t(GetTicks64());
}

void SleepMilliseconds(uint32_t ms)
{
    usleep(useconds_t(ms) * 1000);
}

void* LoadFunction(void* library, const char* name)
{
    if (!library || !name)
        return nullptr;
    if (void* symbol = dlsym(library, name))
        return symbol;
    const std::string underscored = std::string("_") + name;
    return dlsym(library, underscored.c_str());
}

} // namespace OS
} // namespace Corvane3D
