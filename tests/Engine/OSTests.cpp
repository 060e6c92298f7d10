#include "Engine/OS.h"
#include "Engine/Threading.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fstream>
#include <string>
#include <vector>

using namespace Corvane3D;

namespace {

// Moves the start tick so that "milliseconds since start" reads `ms` now.
void PretendRunningFor(uint64_t ms)
{
    OS::Initialise();
    g_ullStartTicks = OS::GetPerformanceCounter() - ms * (g_ullTicksFrequency / 1000);
}

std::vector<std::string> ThreadNames()
{
    std::vector<std::string> names;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            std::ifstream comm(std::string("/proc/self/task/") + entry->d_name + "/comm");
            std::string name;
            std::getline(comm, name);
            names.push_back(name);
        }
        closedir(dir);
    }
    return names;
}

} // namespace

TEST(TimeBase, MillisecondsAdvanceWithTheClock)
{
    const uint32_t before = OS::GetTicks();
    OS::SleepMilliseconds(20);
    const uint32_t elapsed = OS::TicksSince(OS::GetTicks(), before);
    EXPECT_GE(elapsed, 19u);
    EXPECT_LT(elapsed, 1000u);
}

// Guards the 49.7-day wrap: a schedule started before it must still fire after it.
TEST(TimeBase, SchedulesKeepFiringAcrossTheThirtyTwoBitWrap)
{
    const uint64_t saved = g_ullStartTicks;
    PretendRunningFor((uint64_t(1) << 32) - 30);
    const uint32_t start = OS::GetTicks();
    EXPECT_GT(start, 0xFFFF0000u);
    EXPECT_FALSE(OS::HasElapsed(start, start, 50));
    OS::SleepMilliseconds(60);
    const uint32_t now = OS::GetTicks();
    EXPECT_LT(now, start) << "the 32-bit reading should have wrapped";
    EXPECT_TRUE(OS::HasElapsed(now, start, 50));
    EXPECT_GE(OS::GetTicks64(), uint64_t(1) << 32);
    g_ullStartTicks = saved;
}

// Guards the 64-bit overflow of (counter - start) * 1000 after ~213 days of nanoseconds.
TEST(TimeBase, LongUptimesDoNotOverflowTheMillisecondConversion)
{
    const uint64_t saved = g_ullStartTicks;
    const uint64_t year = 365ull * 24 * 3600 * 1000;
    PretendRunningFor(year);
    const uint64_t ms = OS::GetTicks64();
    EXPECT_GE(ms, year);
    EXPECT_LT(ms, year + 1000);
    g_ullStartTicks = saved;
}

TEST(Signalable, ManualResetStaysSignalledAutoResetReadsOnce)
{
    Signalable manual;
    EXPECT_FALSE(manual.Poll());
    manual.Signal();
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(manual.Poll());
    manual.Reset();
    EXPECT_FALSE(manual.Poll());

    Signalable automatic;
    automatic.SetAutoReset(true);
    automatic.Signal();
    EXPECT_TRUE(automatic.Poll());
    EXPECT_FALSE(automatic.Poll());
}

TEST(Signalable, RaiseFromASignalHandlerIsSeenByThePoller)
{
    Signalable stop;
    stop.SignalFromHandler();
    EXPECT_TRUE(stop.IsSignalled());
    EXPECT_TRUE(stop.Poll());
    EXPECT_TRUE(stop.Poll()) << "manual reset: stays raised";
}

TEST(Thread, StartsOnceRunsNamedAndJoins)
{
    Signalable release;
    std::string seenName;
    CThreadCB thread("TestWorker", [&](CThreadCB&, void*) {
        char name[32] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        seenName = name;
        while (!release.Poll())
            OS::SleepMilliseconds(1);
        return 7;
    });
    ASSERT_TRUE(thread.Start());
    EXPECT_FALSE(thread.Start()) << "a running thread must not start twice";
    while (!thread.HasStarted())
        OS::SleepMilliseconds(1);
    bool listed = false;
    for (const std::string& name : ThreadNames())
        listed = listed || name == "TestWorker";
    EXPECT_TRUE(listed);
    release.Signal();
    EXPECT_TRUE(thread.Join());
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(seenName, "TestWorker");
}

// Guards the detach path: the body must not touch the destroyed object when it ends.
TEST(Thread, DestroyingARunningThreadDoesNotBlockOrTouchFreedMemory)
{
    auto finished = std::make_shared<Signalable>();
    auto release = std::make_shared<Signalable>();
    {
        CThreadCB thread("Detached", [finished, release](CThreadCB&, void*) {
            while (!release->Poll())
                OS::SleepMilliseconds(1);
            finished->Signal();
            return 0;
        });
        ASSERT_TRUE(thread.Start());
    }
    release->Signal();
    for (int i = 0; i < 2000 && !finished->Poll(); ++i)
        OS::SleepMilliseconds(1);
    EXPECT_TRUE(finished->Poll());
    OS::SleepMilliseconds(10); // let the body return through its epilogue
}

TEST(PumpedEventLoop, ItemsArriveInPostingOrderAndClearDropsTheRest)
{
    CPumpedEventLoop<std::unique_ptr<std::string>> loop;
    std::vector<std::string> seen;
    auto handler = [&](std::unique_ptr<std::string>& item) { seen.push_back(*item); };
    EXPECT_EQ(loop.Pump(handler), 0u);

    CThreadCB producer("Producer", [&](CThreadCB&, void*) {
        for (int i = 0; i < 100; ++i)
            loop.Post(std::make_unique<std::string>(std::to_string(i)));
        return 0;
    });
    ASSERT_TRUE(producer.Start());
    producer.Join();
    loop.Pump(handler);
    ASSERT_EQ(seen.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(seen[i], std::to_string(i));

    loop.Post(std::make_unique<std::string>("never handled"));
    loop.Clear();
    EXPECT_FALSE(loop.HasItems());
    EXPECT_EQ(loop.Pump(handler), 0u);
}
