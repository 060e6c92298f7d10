#include "JSTestSupport.h"

#include <unistd.h>

#include <fstream>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's own count of live heap bytes (its header is not installed with GCC).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace JSTest {
namespace {

long ResidentKiB()
{
    std::ifstream statm("/proc/self/statm");
    long size = 0;
    long resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// What the process holds on the heap. Under the address sanitizer freed blocks stay resident in
// its quarantine, so resident memory grows whatever the code does; the live heap is measured there.
long HeapInUseKiB()
{
#if defined(__SANITIZE_ADDRESS__)
    return long(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    return ResidentKiB();
#endif
}

// The engine starts once for the whole test process and shuts down after the last test, as the
// server's entry point does.
class CJSEngineEnvironment : public ::testing::Environment {
public:
    void SetUp() override { m_pLifetime = std::make_unique<CJSEngineLifetime>(); }
    void TearDown() override { m_pLifetime.reset(); }

private:
    std::unique_ptr<CJSEngineLifetime> m_pLifetime;
};

// GoogleTest owns registered environments.
const ::testing::Environment* const g_pEngineEnvironment =
    ::testing::AddGlobalTestEnvironment(std::make_unique<CJSEngineEnvironment>().release());

using JSScriptingTest = JSFixture;

TEST(JSEngineLifetimeTest, ASecondHolderSharesTheRunningEngine)
{
    ASSERT_TRUE(CJSEngineLifetime::IsActive());
    {
        CJSEngineLifetime nested;
        EXPECT_TRUE(nested.IsInitialised());
    }
    EXPECT_TRUE(CJSEngineLifetime::IsActive());
}

TEST_F(JSScriptingTest, EngineIsRegisteredUnderTheCrcOfItsName)
{
    EXPECT_EQ(scripting.GetVM("SpiderMonkey"), js);
    EXPECT_EQ(CJSScripting::GetId(), CScriptingVM::GetEngineId("SpiderMonkey"));
    EXPECT_FALSE(js->IsStarted());
    ASSERT_NE(Env(), nullptr);
    EXPECT_TRUE(js->IsStarted());
}

TEST_F(JSScriptingTest, ScriptRunsAndReturnsItsCompletionValue)
{
    EXPECT_EQ(IntegerOf(Eval("let a = 20; a + 22")), 42);
    EXPECT_TRUE(EvalBool("global === globalThis"));
}

TEST_F(JSScriptingTest, ConsoleWritesOnlyTheFirstArgumentAtTheLevelOfEachFunction)
{
    ASSERT_TRUE(Run("console.log('one', 'two'); console.info('info'); console.warn({toString() { return 'w'; }});"
                    "console.error(42); console.log();"));
    EXPECT_TRUE(LogHas(LOG_INFO, "one"));
    EXPECT_FALSE(LogHas(LOG_INFO, "two"));
    EXPECT_TRUE(LogHas(LOG_INFO, "info"));
    EXPECT_TRUE(LogHas(LOG_WARN, "w"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "42"));
    EXPECT_TRUE(LogHas(LOG_INFO, "undefined"));
}

TEST_F(JSScriptingTest, ConsoleAssertLogsItsMessageOnlyWhenTheConditionFails)
{
    ASSERT_TRUE(Run("console.assert(1 > 2, 'first failed'); console.assert(true, 'second failed');"
                    "console.assert(0);"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "first failed"));
    EXPECT_FALSE(LogHas(LOG_ERROR, "second failed"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "undefined"));
    // The message is converted even when the condition holds.
    EXPECT_FALSE(Run("console.assert(true, {toString() { throw new Error('converted'); }})"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "converted"));
}

TEST_F(JSScriptingTest, SyntaxErrorIsLoggedWithFileAndLine)
{
    EXPECT_FALSE(Run("let fine = 1;\nlet also = 2;\nlet broken = ;\n", "broken.js"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "SyntaxError"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "File: broken.js Line: 3 Column:"));
}

TEST_F(JSScriptingTest, UncaughtExceptionIsLoggedWithFileAndLineAndTheEnvironmentKeepsWorking)
{
    EXPECT_FALSE(Run("function f() {\n  throw new TypeError('went wrong');\n}\nf();\n", "thrower.js"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "TypeError: went wrong"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "File: thrower.js Line: 2 Column:"));
    EXPECT_EQ(IntegerOf(Eval("1 + 1")), 2);
}

TEST_F(JSScriptingTest, ThrownNonErrorValueIsStillReported)
{
    EXPECT_FALSE(Run("throw 'plain text';", "plain.js"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "plain text"));
}

TEST_F(JSScriptingTest, DeepRecursionIsACatchableScriptError)
{
    EXPECT_EQ(EvalString("function down(n) { return down(n + 1) + 1; }\n"
                         "let caught = 'nothing';\n"
                         "try { down(0); } catch (e) { caught = String(e); }\n"
                         "caught"),
              "InternalError: too much recursion");
    EXPECT_FALSE(Run("function down(n) { return down(n + 1) + 1; } down(0);", "deep.js"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "too much recursion"));
}

TEST_F(JSScriptingTest, RunningOutOfScriptHeapIsReportedAndLeavesTheEngineUsable)
{
    ASSERT_NE(Env(), nullptr);
    js->SetHeapLimit(12u * 1024u * 1024u);
    EXPECT_FALSE(Run("let hoard = []; for (;;) hoard.push({ a: 1, b: [1, 2, 3] });", "hoard.js"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "out of memory"));
    js->CollectGarbage();
    EXPECT_EQ(IntegerOf(Eval("[1, 2, 3].length")), 3);
}

TEST_F(JSScriptingTest, EndlessLoopIsStoppedAfterTheScriptTimeLimit)
{
    ASSERT_NE(Env(), nullptr);
    js->SetScriptTimeLimit(200);
    EXPECT_FALSE(Run("try { for (;;) {} } catch (e) { test.record('caught'); }", "loop.js"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "A script ran for more than 200 ms and was stopped"));
    EXPECT_TRUE(LogHas(LOG_ERROR, "The script loop.js was terminated"));
    EXPECT_TRUE(recorded.empty());
    // Each call from native code has its own time.
    ASSERT_TRUE(Run("setTimeout(() => { for (;;) {} }, 0); setTimeout(() => test.record('next timer'), 0);"));
    Tick();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(StringOf(Recorded(0, 0)), "next timer");
    EXPECT_EQ(IntegerOf(Eval("1 + 2")), 3);
}

TEST_F(JSScriptingTest, DoFileReadsTheStreamAsText)
{
    const std::string text = "\xEF\xBB\xBFtest.record('from file', '\xC3\xA9t\xC3\xA9');";
    auto stream = MakeStrong<CMemoryStream>(text.data(), text.size());
    ASSERT_TRUE(Env()->DoFile(stream, "file.js"));
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(StringOf(Recorded(0, 0)), "from file");
    EXPECT_EQ(StringOf(Recorded(0, 1)), "\xC3\xA9t\xC3\xA9");
    EXPECT_FALSE(Env()->DoFile(nullptr, "none.js"));
}

TEST_F(JSScriptingTest, NamespacesAreObjectsReachableUnderTheirAlias)
{
    EXPECT_TRUE(EvalBool("typeof test.echo === 'function' && tests === test"));
    EXPECT_EQ(IntegerOf(Eval("test.thingCount")), 0);
    EXPECT_EQ(IntegerOf(Eval("test.needNumbers.length")), 2);
    EXPECT_EQ(IntegerOf(Eval("test.call.length")), 1);
}

TEST_F(JSScriptingTest, EnvironmentsDoNotShareGlobals)
{
    CJSScriptEnvironment* first = NewEnvironment();
    CJSScriptEnvironment* second = NewEnvironment();
    ASSERT_TRUE(Run("var shared = 1; globalThis.other = 2; Array.prototype.extra = 3;", "a.js", first));
    EXPECT_EQ(EvalString("typeof shared + typeof other + typeof [].extra", second), "undefinedundefinedundefined");
    EXPECT_EQ(IntegerOf(Eval("shared + other + [].extra", first)), 6);
}

TEST_F(JSScriptingTest, SharedClassesCannotBeChangedByOneEnvironmentForAnother)
{
    CJSScriptEnvironment* first = NewEnvironment();
    CJSScriptEnvironment* second = NewEnvironment();
    // Prototypes, constructors and what lies under them are shared between environments.
    Run("'use strict'; try { test.Thing.prototype.describe = null; } catch (e) {}"
        "try { test.Thing.extra = 1; } catch (e) {}"
        "try { Object.getPrototypeOf(Object.getPrototypeOf(test.Thing.prototype)).toString = null; } catch (e) {}"
        "try { delete test.Thing.prototype.describe; } catch (e) {}",
        "a.js", first);
    EXPECT_EQ(EvalString("new test.Thing('t').describe() + typeof test.Thing.extra + String(new test.Thing('u'))",
                         second),
              "thing:tundefined[object Object]");
}

TEST_F(JSScriptingTest, CollectGarbageIsAvailableToScriptsAndNativeCode)
{
    ASSERT_TRUE(Run("collectGarbage();"));
    js->CollectGarbage();
    scripting.CollectGarbage();
}

TEST_F(JSScriptingTest, DestroyedEnvironmentRunsNothingAndIsCollected)
{
    CJSScriptEnvironment* environment = NewEnvironment();
    const size_t before = js->GetEnvironmentCount();
    environments.pop_back();
    environment->AddRef();
    environment->Destroy();
    EXPECT_FALSE(Run("test.record(1)", "late.js", environment));
    EXPECT_TRUE(recorded.empty());
    environment->Release();
    js->CollectGarbage();
    EXPECT_EQ(js->GetEnvironmentCount(), before - 1);
}

TEST_F(JSScriptingTest, CreatingAndDestroyingEnvironmentsKeepsMemoryFlat)
{
    const std::string code =
        "class Local extends test.Thing { constructor() { super('local'); this.data = []; } }\n"
        "const local = new Local();\n"
        "for (let i = 0; i < 500; ++i) local.data.push({ i, text: 'entry ' + i, v: new Vec3(i, i, i) });\n"
        "(async () => { await null; local.data.length = 0; })();\n"
        "console.log(local.describe());\n";
    ASSERT_NE(Env(), nullptr);
    const size_t environmentsBefore = js->GetEnvironmentCount();
    const int wrappersBefore = CJSScripting::GetWrapperCount();
    auto cycle = [&] {
        auto* environment = static_cast<CJSScriptEnvironment*>(js->CreateEnvironment("memory"));
        ASSERT_NE(environment, nullptr);
        ASSERT_TRUE(environment->DoText(code.data(), code.size(), "memory.js"));
        environment->Destroy();
        js->CollectGarbage();
    };
    long afterFirst = 0;
    long residentAfterFirst = 0;
    for (int i = 0; i < 200; ++i) {
        cycle();
        if (i == 0) {
            afterFirst = HeapInUseKiB();
            residentAfterFirst = ResidentKiB();
        }
    }
    const long afterLast = HeapInUseKiB();
    std::printf("memory in use: %ld KiB after the first cycle, %ld KiB after the 200th (resident %ld KiB, %ld KiB)\n",
                afterFirst, afterLast, residentAfterFirst, ResidentKiB());
    EXPECT_EQ(js->GetEnvironmentCount(), environmentsBefore);
    EXPECT_EQ(CJSScripting::GetWrapperCount(), wrappersBefore);
    EXPECT_EQ(liveThings, 0);
    EXPECT_LT(afterLast, afterFirst + afterFirst / 10);
}

} // namespace
} // namespace JSTest
