#include "JSTestSupport.h"

namespace JSTest {
namespace {

struct JSPromiseTest : JSFixture {
    JSPromiseTest() { events.CreateEventType("OnTest", "Raised by the tests", 1, false); }

    // The first argument of every test.record call, in order, joined by commas.
    std::string Trace() const
    {
        std::string trace;
        for (const auto& call : recorded) {
            if (!trace.empty())
                trace += ",";
            trace += StringOf(call->GetAt(0));
        }
        return trace;
    }
};

TEST_F(JSPromiseTest, ReactionsRunWhenTheScriptEntryEnds)
{
    ASSERT_TRUE(Run("Promise.resolve().then(() => test.record('reaction'));\n"
                    "(async () => { test.record('async start'); await null; test.record('async resumed'); })();\n"
                    "test.record('statement');"));
    EXPECT_EQ(Trace(), "async start,statement,reaction,async resumed");
}

TEST_F(JSPromiseTest, AwaitInsideAnEventHandlerContinuesAfterTheHandlerReturns)
{
    ASSERT_TRUE(Run("addEventHandler('OnTest', async (event, value) => {\n"
                    "  test.record('start ' + value);\n"
                    "  await null;\n"
                    "  test.record('after await');\n"
                    "  const late = await new Promise((resolve) => setTimeout(resolve, 150, 'from timer'));\n"
                    "  test.record('resumed ' + late);\n"
                    "});"));
    events.GetEventType("OnTest")->Trigger(*Args(int32_t(5)));
    EXPECT_EQ(Trace(), "start 5,after await");
    Tick(1, 0.1);
    EXPECT_EQ(Trace(), "start 5,after await");
    Tick(1, 0.1);
    EXPECT_EQ(Trace(), "start 5,after await,resumed from timer");
}

TEST_F(JSPromiseTest, AwaitInsideATimerCallbackContinues)
{
    ASSERT_TRUE(Run("setTimeout(async () => {\n"
                    "  test.record('tick');\n"
                    "  const value = await Promise.resolve('awaited');\n"
                    "  test.record(value);\n"
                    "}, 0);"));
    EXPECT_EQ(Trace(), "");
    Tick();
    EXPECT_EQ(Trace(), "tick,awaited");
}

TEST_F(JSPromiseTest, ThreadWaitsForItsTimer)
{
    ASSERT_TRUE(Run("thread.create(function* () { test.record('a'); yield* thread.wait(200); test.record('b'); });"));
    EXPECT_EQ(Trace(), "a");
    Tick(1, 0.1);
    EXPECT_EQ(Trace(), "a");
    Tick(1, 0.1);
    EXPECT_EQ(Trace(), "a,b");
}

TEST_F(JSPromiseTest, RejectionNobodyHandlesIsLoggedWithItsOrigin)
{
    ASSERT_TRUE(Run("Promise.reject(new Error('nobody cares'));\n"
                    "async function fails() { throw new TypeError('async failure'); }\n"
                    "fails();\n"
                    "Promise.reject(42);\n",
                    "reject.js"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "Error: nobody cares"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "File: reject.js Line: 1"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "TypeError: async failure"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "File: reject.js Line: 2"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "42"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "File: reject.js Line: 4"));
}

TEST_F(JSPromiseTest, RejectionHandledWithinTheTurnIsNotLogged)
{
    ASSERT_TRUE(Run("Promise.reject(new Error('caught at once')).catch(() => test.record('caught'));\n"
                    "const later = Promise.reject(new Error('caught later'));\n"
                    "Promise.resolve().then(() => later.catch(() => test.record('caught later')));\n"
                    "(async () => { try { await Promise.reject(new Error('awaited')); } catch (e) {"
                    "  test.record('awaited'); } })();\n"));
    EXPECT_EQ(Trace(), "caught,awaited,caught later");
    EXPECT_EQ(CountLog(LOG_ERROR, "caught"), 0u);
    EXPECT_EQ(CountLog(LOG_ERROR, "awaited"), 0u);
}

TEST_F(JSPromiseTest, RejectionInsideAHandlerIsLoggedAndTheNextHandlerStillRuns)
{
    ASSERT_TRUE(Run("addEventHandler('OnTest', async () => { await null; throw new Error('handler failed'); });\n"
                    "addEventHandler('OnTest', () => test.record('second handler'));",
                    "handlers.js"));
    events.GetEventType("OnTest")->Trigger(*Args(int32_t(1)));
    EXPECT_EQ(Trace(), "second handler");
    EXPECT_TRUE(LogHas(LOG_ERROR, "Error: handler failed"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "File: handlers.js Line: 1"));
}

TEST_F(JSPromiseTest, EndlessAwaitLoopIsCutAndReported)
{
    // Without a limit the server's main thread would never leave the job queue.
    js->SetJobTimeLimit(100);
    ASSERT_TRUE(Run("(async () => { for (;;) await null; })(); test.record('returned');"));
    EXPECT_EQ(Trace(), "returned");
    EXPECT_TRUE(LogHas(LOG_ERROR, "Promise jobs ran for more than 100 ms in one turn"));
    ASSERT_TRUE(Run("Promise.resolve().then(() => test.record('queue works'));"));
    EXPECT_EQ(Trace(), "returned,queue works");
}

TEST_F(JSPromiseTest, NativesSeeTheResourceOfTheCodeThatCallsThemAfterEveryKindOfEntry)
{
    CJSScriptEnvironment* first = NewEnvironment();
    CJSScriptEnvironment* second = NewEnvironment();
    first->m_pResource = Resource(0);
    second->m_pResource = Resource(1);
    ASSERT_TRUE(Run("globalThis.firstsResource = async () => { await null; test.record('awaited', test.resource()); };"
                    "test.record('first', test.resource());"
                    "setTimeout(() => test.record('timer', test.resource()), 0);",
                    "first.js", first));
    ASSERT_TRUE(Run("addEventHandler('OnTest', () => test.record('handler', test.resource()));"
                    "(async () => { await null; test.record('second', test.resource()); })();",
                    "second.js", second));
    gift = Eval("firstsResource", first);
    // The second environment calls into the first; the continuation belongs to the first.
    ASSERT_TRUE(Run("test.give()();", "second.js", second));
    events.GetEventType("OnTest")->Trigger(*Args(int32_t(0)));
    Tick();
    std::string seen;
    for (const auto& call : recorded)
        seen += StringOf(call->GetAt(0)) + "=" + std::to_string(IntegerOf(call->GetAt(1))) + " ";
    EXPECT_EQ(seen, "first=0 second=1 awaited=0 handler=1 timer=0 ");
}

TEST_F(JSPromiseTest, ReactionsOfADestroyedEnvironmentNeverRun)
{
    // A stopped resource's code must not run again, not even through a promise it left behind.
    CJSScriptEnvironment* stopped = NewEnvironment();
    CJSScriptEnvironment* running = NewEnvironment();
    ASSERT_TRUE(Run("let resolve; new Promise((r) => { resolve = r; }).then(() => test.record('stale reaction'));"
                    "test.record(resolve);",
                    "stopped.js", stopped));
    ASSERT_EQ(recorded.size(), 1u);
    gift = recorded[0]->GetAt(0)->Clone();
    recorded.clear();
    ASSERT_TRUE(Run("var resolveStopped = test.give();", "running.js", running));
    environments.erase(environments.begin());
    stopped->Destroy();
    ASSERT_TRUE(Run("resolveStopped(); Promise.resolve().then(() => test.record('own reaction'));", "running.js",
                    running));
    EXPECT_EQ(Trace(), "own reaction");
}

TEST_F(JSPromiseTest, FunctionOfADestroyedEnvironmentRefusesToRun)
{
    CJSScriptEnvironment* environment = NewEnvironment();
    Strong<CFunction> function = FunctionOf("() => test.record('ran')", environment);
    ASSERT_TRUE(function);
    environments.clear();
    environment->Destroy();
    EXPECT_FALSE(function->Call(CArgumentArray(), nullptr));
    EXPECT_STREQ(GetError(), "The script that owns this function has stopped");
    // Handed to another environment, it raises a script error when called.
    gift = MakeStrong<CArgumentFunction>(function.Get());
    EXPECT_EQ(EvalString("(() => { try { test.give()(); return 'ran'; } catch (e) { return e.message; } })()"),
              "The script that owns this function has stopped");
    EXPECT_TRUE(recorded.empty());
}

} // namespace
} // namespace JSTest
