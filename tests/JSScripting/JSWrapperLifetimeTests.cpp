#include "JSTestSupport.h"

#include "Engine/LambdaFunction.h"

namespace JSTest {
namespace {

struct JSWrapperLifetimeTest : JSFixture {
    int wrappersBefore = 0;

    JSWrapperLifetimeTest()
    {
        Env();
        wrappersBefore = CJSScripting::GetWrapperCount();
    }
};

TEST_F(JSWrapperLifetimeTest, NativeObjectLivesAsLongAsItsWrapperAndIsCollectedAfter)
{
    ASSERT_TRUE(Run("var held = test.makeThing('held');"));
    // Nothing native holds it any more; the wrapper vetoed its destruction.
    EXPECT_EQ(liveThings, 1);
    js->CollectGarbage();
    EXPECT_EQ(liveThings, 1);
    EXPECT_EQ(EvalString("held.describe()"), "thing:held");
    ASSERT_TRUE(Run("held = null;"));
    js->CollectGarbage();
    EXPECT_EQ(liveThings, 0);
    EXPECT_EQ(CJSScripting::GetWrapperCount(), wrappersBefore);
}

TEST_F(JSWrapperLifetimeTest, ObjectsMadeByScriptsAreFreedWithTheirWrappers)
{
    ASSERT_TRUE(Run("for (let i = 0; i < 50; ++i) { new test.Thing('t' + i); new Vec3(i, i, i); }"
                    "class Mine extends test.Thing {} for (let i = 0; i < 5; ++i) new Mine('m').x = 1;"));
    EXPECT_EQ(liveThings, 55);
    js->CollectGarbage();
    EXPECT_EQ(liveThings, 0);
    EXPECT_EQ(CJSScripting::GetWrapperCount(), wrappersBefore);
}

TEST_F(JSWrapperLifetimeTest, NativeObjectTakenBackByNativeCodeSurvivesItsWrapper)
{
    ASSERT_TRUE(Run("var t = test.makeThing('revived'); test.keep(t); t = null;"));
    js->CollectGarbage();
    // The wrapper went; the object lives on and gets a new wrapper when it next reaches a script.
    EXPECT_EQ(liveThings, 1);
    EXPECT_EQ(CJSScripting::GetWrapperCount(), wrappersBefore);
    EXPECT_EQ(EvalString("test.kept(0).describe()"), "thing:revived");
    kept.clear();
    js->CollectGarbage();
    EXPECT_EQ(liveThings, 0);
}

TEST_F(JSWrapperLifetimeTest, WrapperOfADestroyedNativeObjectReportsAnErrorOnUse)
{
    Strong<CTestThing> owned = MakeThing("owned");
    gift = MakeStrong<CArgumentObject>(owned);
    ASSERT_TRUE(Run("var w = test.give();"));
    gift = nullptr;
    // The owner tears the object down while a script still holds its wrapper.
    owned.Detach()->Obliterate();
    EXPECT_EQ(liveThings, 0);
    EXPECT_EQ(EvalString("(() => { try { w.describe(); return 'called'; } catch (e) { return e.message; } })()"),
              "'describe' called on an object that does not implement interface Referenceable.");
    EXPECT_EQ(EvalString("(() => { try { return w.name; } catch (e) { return e.message; } })()"),
              "'get name' called on an object that does not implement interface Referenceable.");
    EXPECT_EQ(EvalString("test.typeOf(w)"), "ARGUMENT_UNDEFINED");
    EXPECT_EQ(EvalString("(() => { try { return test.needThing(w); } catch (e) { return e.message; } })()"),
              "Expected Thing for argument 1");
    ASSERT_TRUE(Run("w = null;"));
    js->CollectGarbage();
    EXPECT_EQ(CJSScripting::GetWrapperCount(), wrappersBefore);
}

TEST_F(JSWrapperLifetimeTest, MethodCallKeepsItsReceiverAliveWhenTheNativeDropsIt)
{
    ReflectedClass* cls = scripting.GetGlobal()->AddNamespace("later")->NewClass("Dropper");
    cls->RegisterFunction("drop", "t", [](CNativeState* state, int, void* self) {
        auto* fixture = static_cast<JSFixture*>(self);
        CBaseObject* object = nullptr;
        if (!state->GetThis(nullptr, object))
            return false;
        fixture->kept.clear();
        // Still usable: the call holds it.
        state->ReturnNumber(object->GetRefCount());
        return true;
    }, this);
    kept.push_back(MakeThing("dropped", cls));
    CJSScriptEnvironment* fresh = NewEnvironment();
    EXPECT_GE(IntegerOf(Eval("test.kept(0).drop()", fresh)), 1);
    js->CollectGarbage();
    EXPECT_EQ(liveThings, 0);
}

TEST(JSEngineTeardownTest, ValuesNativeCodeStillHoldsOutliveTheEngineSafely)
{
    ArgumentTest::LogCapture log;
    int live = 0;
    Strong<CTestThing> survivor;
    Strong<CFunction> function;
    Strong<CArgument> opaque;
    CScriptEnvironment* second = nullptr;
    {
        CScripting scripting;
        ReflectedClass* cls = scripting.GetGlobal()->NewClass("Survivor");
        auto engine = std::make_unique<CJSScripting>(&scripting);
        CJSScripting* js = engine.get();
        scripting.AddVM(CJSScripting::GetId(), std::move(engine));
        auto* environment = static_cast<CJSScriptEnvironment*>(js->CreateEnvironment("teardown"));
        ASSERT_NE(environment, nullptr);
        survivor = MakeStrong<CTestThing>("survivor", &live);
        survivor->SetReflectedClass(cls);
        scripting.GetGlobal()->RegisterFunction("get", "", [](CNativeState* state, int, void* object) {
            state->ReturnObject(static_cast<CBaseObject*>(object));
            return true;
        }, survivor.Get());
        // Published at creation; a second environment sees the function registered since.
        second = js->CreateEnvironment("second");
        ASSERT_NE(second, nullptr);
        auto result = MakeStrong<CReturnValue>();
        const std::string code = "var w = get(); [() => w, { plain: true }]";
        ASSERT_TRUE(static_cast<CJSScriptEnvironment*>(second)->DoText(code.data(), code.size(), "t.js", result));
        auto* list = static_cast<CArgumentArray*>(result->GetAt(0));
        ASSERT_TRUE(list && list->IsArray());
        function = list->GetAt(0)->ToFunction();
        opaque = list->GetAt(1)->Clone();
        environment->Destroy();
        // The second environment is left for the engine to tear down.
    }
    EXPECT_EQ(live, 1);
    EXPECT_FALSE(function->Call(CArgumentArray(), nullptr));
    EXPECT_STREQ(GetError(), "The script engine of this function has shut down");
    Strong<CArgument> copy = opaque->Clone();
    EXPECT_EQ(copy->GetType(), ARGUMENT_UNDEFINED);
    EXPECT_FALSE(static_cast<CJSScriptEnvironment*>(second)->DoText("1", 1, "late.js"));
    second->Destroy();
    survivor = nullptr;
    EXPECT_EQ(live, 0);
}

} // namespace
} // namespace JSTest
