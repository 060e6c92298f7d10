#include "BaseServer.h"

#include "Engine/Context.h"
#include "Engine/LambdaFunction.h"
#include "Engine/OS.h"
#include "Scripting/EventHandlers.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Corvane3D;

namespace {

// A server without a transport, whose frames record what scripts see of them.
struct LoopFixture : ::testing::Test {
    LoopFixture()
    {
        context.SetConsole(nullptr);
        GGlobal.m_pContext = &context;
        server = std::make_unique<CBaseServer>();
        auto handler = MakeStrong<CLambdaFunction>([this](const CArgumentArray& arguments, CReturnValue*) {
            double frameTime = -1;
            // Argument 0 is the event object, then the frame time.
            if (arguments.GetArrayCount() == 2)
                arguments.GetAt(1)->ToNumber(frameTime);
            frameTimes.push_back(frameTime);
            return true;
        });
        server->GetEventHandlers()->GetEventType("OnProcess")->AddHandler(
            MakeStrong<EventHandlers::CScriptEventHandler>(handler.Get()), nullptr);
    }
    ~LoopFixture() override
    {
        server.reset();
        GGlobal.m_pContext = nullptr;
    }

    Context context;
    std::unique_ptr<CBaseServer> server;
    std::vector<double> frameTimes;
};

} // namespace

TEST_F(LoopFixture, AnIdleServerRunsAboutTenFramesASecond)
{
    server->ResetFrameClock();
    const uint64_t start = OS::GetTicks64();
    int frames = 0;
    while (OS::GetTicks64() - start < 1000) {
        ASSERT_TRUE(server->ProcessFrame());
        ++frames;
    }
    EXPECT_GE(frames, 8);
    EXPECT_LE(frames, 11);
    ASSERT_EQ(frameTimes.size(), size_t(frames));
    EXPECT_NEAR(frameTimes.back(), 0.0625, 1e-9) << "a 100 ms idle frame is clamped to 0.0625 s";
}

TEST_F(LoopFixture, AStallCountsAsOneClampedFrame)
{
    server->ResetFrameClock();
    OS::SleepMilliseconds(2000);
    ASSERT_TRUE(server->ProcessFrame());
    ASSERT_EQ(frameTimes.size(), 1u);
    EXPECT_DOUBLE_EQ(frameTimes[0], 0.0625);
}

TEST_F(LoopFixture, AQuitRequestEndsTheLoopAtTheNextStopCheck)
{
    ASSERT_TRUE(server->ProcessFrame());
    server->RequestStop();
    EXPECT_FALSE(server->ProcessFrame());
    EXPECT_EQ(frameTimes.size(), 1u) << "the stopping frame does no game work";
    EXPECT_TRUE(server->GetStopFlag().Poll());
}

TEST_F(LoopFixture, AnInterruptRaisedFromASignalHandlerStopsTheLoop)
{
    server->GetStopFlag().SignalFromHandler();
    EXPECT_FALSE(server->ProcessFrame());
}

TEST_F(LoopFixture, ConsoleLinesRunAfterTheFrameAndOverlongOnesAreDropped)
{
    server->GetInputQueue().Post(std::string(256, 'q'));
    server->GetInputQueue().Post("");
    ASSERT_TRUE(server->ProcessFrame());
    server->GetInputQueue().Post("QUIT");
    ASSERT_TRUE(server->ProcessFrame()) << "the line runs after this frame's stop check";
    EXPECT_FALSE(server->ProcessFrame());
}
