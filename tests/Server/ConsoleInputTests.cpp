#include "ConsoleInput.h"

#include "Engine/OS.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

using namespace Corvane3D;

namespace {

struct ConsoleInputTests : ::testing::Test {
    ConsoleInputTests()
    {
        EXPECT_EQ(pipe(fds), 0);
        queue = std::make_unique<CConsoleInput::InputQueue>();
        input = std::make_unique<CConsoleInput>(*queue, fds[0]);
        running = input->RunningProbe();
    }
    ~ConsoleInputTests() override
    {
        input.reset();
        // The read end stays open until the detached thread has ended.
        WaitUntilEnded();
        CloseWriter();
        close(fds[0]);
    }

    bool WaitUntilEnded()
    {
        for (int i = 0; i < 60 && running(); ++i)
            OS::SleepMilliseconds(50);
        return !running();
    }

    void Type(const std::string& text) { ASSERT_EQ(write(fds[1], text.data(), text.size()), ssize_t(text.size())); }
    void CloseWriter()
    {
        if (fds[1] >= 0)
            close(fds[1]);
        fds[1] = -1;
    }

    // Lines posted so far, collected until `count` arrived or two seconds passed.
    std::vector<std::string> Lines(size_t count)
    {
        for (int i = 0; i < 40 && collected.size() < count; ++i) {
            queue->Pump([this](std::string& line) { collected.push_back(line); });
            if (collected.size() < count)
                OS::SleepMilliseconds(50);
        }
        return collected;
    }

    int fds[2] = {-1, -1};
    std::unique_ptr<CConsoleInput::InputQueue> queue;
    std::unique_ptr<CConsoleInput> input;
    std::function<bool()> running;
    std::vector<std::string> collected;
};

} // namespace

TEST_F(ConsoleInputTests, TypedLinesReachTheQueueWholeWithTheirLineFeedInOrder)
{
    ASSERT_TRUE(input->Start());
    Type("start race\n\nsay hel");
    Type("lo\n");
    EXPECT_EQ(Lines(3), (std::vector<std::string>{"start race\n", "\n", "say hello\n"}));
}

TEST_F(ConsoleInputTests, ALineLongerThanTheBufferIsDroppedWholeNotRunInPieces)
{
    ASSERT_TRUE(input->Start());
    const std::string fits(CConsoleInput::LineBufferSize - 2, 'a');
    Type(std::string(CConsoleInput::LineBufferSize * 2 + 10, 'x') + "\n" + "stop race\n" + fits + "\n");
    EXPECT_EQ(Lines(2), (std::vector<std::string>{"stop race\n", fits + "\n"}));
}

TEST_F(ConsoleInputTests, AtTheEndOfInputTheThreadKeepsPollingUntilClosed)
{
    ASSERT_TRUE(input->Start());
    Type("last line without feed");
    CloseWriter();
    EXPECT_EQ(Lines(1), (std::vector<std::string>{"last line without feed"}));
    OS::SleepMilliseconds(1200);
    EXPECT_TRUE(input->IsRunning());
}

TEST_F(ConsoleInputTests, AfterCloseTheThreadNeverTouchesTheQueueAgainAndEnds)
{
    ASSERT_TRUE(input->Start());
    Type("before\n");
    EXPECT_EQ(Lines(1).size(), 1u);
    // Hazard: the detached thread used to post into the queue after shutdown had freed it.
    input.reset();
    queue.reset();
    Type("after close\n");
    EXPECT_TRUE(WaitUntilEnded());
}
