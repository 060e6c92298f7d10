#include "Scripting/ScriptingTestSupport.h"

#include "Scripting/TimerHandlers.h"

#include <limits>
#include <string>
#include <vector>

using namespace ScriptingTest;
using namespace Corvane3D::TimerHandlers;

namespace {

struct TimerFixture : ScriptingFixture {
    CTimerHandlers timers{&scripting};
    std::vector<std::string> fired;

    Strong<CRecordingFunction> Noting(std::string tag, std::function<void()> then = nullptr)
    {
        return MakeStrong<CRecordingFunction>([this, tag, then](const CArgumentArray&, CReturnValue*) {
            if (then)
                then();
            // Reads the function's own captures after `then`; a freed function would show here.
            fired.push_back(tag);
            return true;
        });
    }

    // The timer a set native returned.
    Strong<CBaseObject> Start(const char* native, const Strong<CArgumentArray>& arguments, CResource* resource = nullptr)
    {
        tNativeCallResult result = Call(native, arguments, resource);
        EXPECT_TRUE(result.m_bResult) << result.m_error;
        if (!result.m_value || !result.m_value->IsObject())
            return nullptr;
        return Strong<CBaseObject>(result.m_value->ToObject());
    }

    bool Clear(CBaseObject* timer) { return Boolean(Call("clearTimeout", Args(timer))); }

    // The frames (1-based) on which `tag` fired while running `frames` updates of `frameTime`.
    std::vector<int> FramesFired(const std::string& tag, int frames, double frameTime)
    {
        std::vector<int> result;
        for (int frame = 1; frame <= frames; ++frame) {
            fired.clear();
            timers.Update(frameTime);
            for (const std::string& entry : fired) {
                if (entry == tag)
                    result.push_back(frame);
            }
        }
        return result;
    }
};

} // namespace

TEST_F(TimerFixture, ATimeoutFiresOnceWhenTheSummedFrameTimesReachItsDelay)
{
    Strong<CBaseObject> timer = Start("setTimeout", Args(Noting("once"), 1500));
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->GetReflectedClass(), timers.GetTimerClass());
    EXPECT_EQ(FramesFired("once", 8, 0.25), (std::vector<int>{6}));
    EXPECT_EQ(timers.GetTimerCount(), 0u);
    EXPECT_FALSE(Clear(timer));
}

TEST_F(TimerFixture, AnIntervalRestartsFromZeroAfterEachFiringDroppingTheExcess)
{
    Start("setInterval", Args(Noting("tick"), 100));
    EXPECT_EQ(FramesFired("tick", 7, 0.060), (std::vector<int>{2, 4, 6}));
    EXPECT_EQ(timers.GetTimerCount(), 1u);
}

TEST_F(TimerFixture, AnImmediateFiresOnTheNextUpdateEvenWithAZeroFrameTime)
{
    Start("setImmediate", Args(Noting("now")));
    EXPECT_EQ(FramesFired("now", 3, 0.0), (std::vector<int>{1}));
}

TEST_F(TimerFixture, CountedTimersFireTheirCountAndInfiniteOnesKeepFiring)
{
    auto thrice = Noting("thrice");
    Strong<CScriptTimer> counted = timers.CreateTimer(nullptr, thrice, 0.0, 3, 0);
    ASSERT_TRUE(timers.AddTimer(counted));
    EXPECT_FALSE(timers.AddTimer(counted));
    Start("setInterval", Args(Noting("forever"), 0));
    EXPECT_EQ(FramesFired("thrice", 5, 0.01), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(counted->GetSlot(), -1);
    EXPECT_EQ(FramesFired("forever", 50, 0.01).size(), 50u);
}

TEST_F(TimerFixture, ExtraArgumentsAreClonedAtCreationAndPassedAtEveryFiring)
{
    auto function = MakeStrong<CRecordingFunction>();
    auto passed = MakeStrong<CArgumentArray>();
    passed->AddNumber(1);
    auto arguments = Args(function, 0, "label");
    arguments->AddAndOwn(passed);
    Start("setInterval", arguments);
    // The script changes its own value afterwards; the timer keeps what it was given.
    passed->AddNumber(2);
    timers.Update(0.1);
    timers.Update(0.1);
    ASSERT_EQ(function->CallCount(), 2u);
    for (size_t call = 0; call < 2; ++call) {
        ASSERT_EQ(function->ArgumentCountOf(call), 2u);
        EXPECT_EQ(StringOf(function->ArgumentOf(call, 0)), "label");
        auto* array = static_cast<CArgumentArray*>(function->ArgumentOf(call, 1));
        EXPECT_EQ(array->GetArrayCount(), 1u);
    }
}

TEST_F(TimerFixture, ATimerClearedFromItsOwnCallbackFinishesTheCallAndIsGone)
{
    Strong<CBaseObject> timer;
    // The function is held only by the timer: clearing must not free it while it runs.
    timer = Start("setInterval", Args(Noting("self", [&] {
                                           EXPECT_TRUE(Clear(timer));
                                           EXPECT_FALSE(Clear(timer));
                                       }),
                                       0, "kept"));
    ASSERT_NE(timer, nullptr);
    auto* scriptTimer = static_cast<CScriptTimer*>(timer.Get());
    EXPECT_EQ(FramesFired("self", 3, 0.1), (std::vector<int>{1}));
    EXPECT_EQ(scriptTimer->GetSlot(), -1);
    EXPECT_EQ(scriptTimer->GetFunction(), nullptr);
    EXPECT_EQ(timers.GetTimerCount(), 0u);
    EXPECT_FALSE(timers.IsIterating());
}

TEST_F(TimerFixture, ATimerClearedByAnotherDuringThePassDoesNotFireInIt)
{
    Strong<CBaseObject> victim;
    Start("setTimeout", Args(Noting("killer", [&] { Clear(victim); }), 0));
    victim = Start("setTimeout", Args(Noting("victim"), 0));
    EXPECT_EQ(FramesFired("victim", 2, 0.1), std::vector<int>{});
    EXPECT_EQ(timers.GetTimerCount(), 0u);
}

TEST_F(TimerFixture, TimersStartedDuringAPassWaitForTheNextFrame)
{
    bool started = false;
    // The first timer takes slot 0, so the new one lands in a higher slot that this pass visits.
    Start("setInterval", Args(Noting("starter", [&] {
                                  if (!started)
                                      started = Start("setImmediate", Args(Noting("new"))) != nullptr;
                              }),
                              0));
    EXPECT_EQ(FramesFired("new", 3, 0.1), (std::vector<int>{2}));
}

TEST_F(TimerFixture, StoppingAResourceRemovesItsTimersAndLeavesOthersRunning)
{
    Start("setInterval", Args(Noting("mine"), 0), Resource(0));
    Start("setInterval", Args(Noting("stopper", [&] { timers.RemoveTimers(Resource(1)); }), 0), Resource(1));
    Start("setInterval", Args(Noting("mine-too"), 0), Resource(1));
    Start("setInterval", Args(Noting("theirs"), 0), Resource(2));
    EXPECT_EQ(timers.RemoveTimers(Resource(0)), 1u);
    timers.Update(0.1);
    EXPECT_EQ(fired, (std::vector<std::string>{"stopper", "theirs"}));
    EXPECT_EQ(timers.GetTimerCount(), 1u);
}

TEST_F(TimerFixture, TheTableHolds4096TimersAndReusesTheLowestFreeSlot)
{
    auto function = Noting("many");
    std::vector<Strong<CBaseObject>> started;
    for (size_t i = 0; i < CTimerHandlers::MaxTimers; ++i)
        started.push_back(Start("setTimeout", Args(function, 1000)));
    EXPECT_EQ(timers.GetTimerCount(), CTimerHandlers::MaxTimers);
    tNativeCallResult full = Call("setTimeout", Args(function, 1000));
    EXPECT_TRUE(full.m_bResult);
    EXPECT_EQ(full.m_value->GetType(), ARGUMENT_NIL);

    EXPECT_TRUE(Clear(started[17]));
    Strong<CBaseObject> reused = Start("setImmediate", Args(function));
    EXPECT_EQ(static_cast<CScriptTimer*>(reused.Get())->GetSlot(), 17);
}

TEST_F(TimerFixture, DelaysAreReadAsUnsignedMillisecondsAndBadArgumentsAreRefused)
{
    auto function = Noting("d");
    struct Case {
        Strong<CArgumentArray> arguments;
        double interval;
    };
    const Case cases[] = {
        {Args(function, 2500), 2.5},
        {Args(function, 2.7), 0.002},
        {Args(function, -5.0), 0.0},
        {Args(function, -1), 4294967.295},
    };
    for (const Case& c : cases) {
        Strong<CBaseObject> timer = Start("setTimeout", c.arguments);
        ASSERT_NE(timer, nullptr);
        EXPECT_DOUBLE_EQ(static_cast<CScriptTimer*>(timer.Get())->GetInterval(), c.interval);
    }

    auto notATimer = MakeStrong<CBaseObject>();
    struct ErrorCase {
        const char* native;
        Strong<CArgumentArray> arguments;
        const char* error;
    };
    const ErrorCase errors[] = {
        {"setTimeout", Args("f", 1), "Expected Function for argument 1"},
        {"setTimeout", Args(function), "Expected integer for argument 2"},
        {"setInterval", Args(function, "5"), "Expected integer for argument 2"},
        {"setImmediate", Args(), "Expected Function for argument 1"},
        {"clearTimeout", Args(5), "Expected Timer for argument 1"},
        {"clearInterval", Args(nullptr), "Expected Timer for argument 1"},
        {"clearImmediate", Args(notATimer), "Expected Timer for argument 1"},
    };
    for (const ErrorCase& c : errors) {
        SCOPED_TRACE(std::string(c.native) + ": " + c.error);
        tNativeCallResult result = Call(c.native, c.arguments);
        EXPECT_FALSE(result.m_bResult);
        EXPECT_EQ(result.m_error, c.error);
    }
}

TEST_F(TimerFixture, AFrameTimeThatIsNoNumberDoesNotStallTheTimers)
{
    Start("setTimeout", Args(Noting("due"), 100));
    timers.Update(std::numeric_limits<double>::quiet_NaN());
    timers.Update(-1.0);
    EXPECT_TRUE(fired.empty());
    timers.Update(0.1);
    EXPECT_EQ(fired, (std::vector<std::string>{"due"}));
}
