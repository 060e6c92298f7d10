#include "JSTestSupport.h"

namespace JSTest {
namespace {

using JSClassTest = JSFixture;

// Runs `statement` and gives "<is an Error>:<message>" of what it threw, or "no error".
std::string Thrown(JSFixture& fixture, const std::string& statement)
{
    return fixture.EvalString("(() => { try { " + statement +
                              "; return 'no error'; }"
                              " catch (e) { return (e instanceof Error) + ':' + e.message; } })()");
}

struct ErrorCase {
    const char* statement;
    const char* thrown;
};

TEST_F(JSClassTest, NativeFailuresBecomeScriptErrorsWithTheExactText)
{
    const ErrorCase cases[] = {
        {"test.needString(5)", "true:Expected string for argument 1"},
        {"test.needString()", "true:Expected string for argument 1"},
        {"test.needNumbers(1, 'x')", "true:Expected integer for argument 2"},
        {"test.needNumbers(1)", "true:Expected integer for argument 2"},
        {"test.needFunction({})", "true:Expected Function for argument 1"},
        {"test.needThing(new Vec3())", "true:Expected Thing for argument 1"},
        {"test.needThing(null)", "true:Expected Thing for argument 1"},
        {"test.needVector([1, 2])", "true:Expected Vector3D for argument 1"},
        {"test.needVector([1, 2, '3'])", "true:Expected Vector3D for argument 1"},
        {"test.fail('custom text')", "true:custom text"},
        {"test.fail('100% \\u00e9')", "true:100% \xC3\xA9"},
        {"test.Thing.prototype.describe.call({})",
         "true:'describe' called on an object that does not implement interface Referenceable."},
        {"test.Thing.prototype.describe.call(test.Thing.prototype)",
         "true:'describe' called on an object that does not implement interface Referenceable."},
        {"Object.getOwnPropertyDescriptor(test.Thing.prototype, 'name').get.call(5)",
         "true:'get name' called on an object that does not implement interface Referenceable."},
        {"test.Special.prototype.shout.call(new test.Thing('plain'))", "true:Special expected for 'this'"},
        {"test.Thing('x')", "true:Constructor Thing requires 'new'"},
        {"new test.Sealed()", "true:Illegal constructor."},
        {"new test.Thing(1)", "true:Expected string for argument 1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Thrown(*this, c.statement), c.thrown) << c.statement;
    EXPECT_EQ(IntegerOf(Eval("test.needVector([1, 2, 3]) + test.needVector(new Vec3(1, 2, 3))")), 12);
}

TEST_F(JSClassTest, ConstructorsPropertiesAndMethodsReachTheNativeObject)
{
    EXPECT_EQ(EvalString("const t = new test.Thing('first'); t.name = 'second'; t.describe() + '/' + t.kind"),
              "thing:second/thing");
    EXPECT_EQ(liveThings, 1);
    EXPECT_TRUE(EvalBool("(() => { 'use strict';"
                         "  try { t.kind = 'other'; } catch (e) { return e instanceof TypeError; } })()"));
    EXPECT_EQ(IntegerOf(Eval("test.Thing.prototype.describe.length")), 0);
    EXPECT_EQ(IntegerOf(Eval("test.Thing.length")), 0);
}

TEST_F(JSClassTest, NativeClassHierarchyIsThePrototypeChain)
{
    EXPECT_TRUE(EvalBool("const s = new test.Special('s');"
                         "s instanceof test.Special && s instanceof test.Thing && s.describe() === 'thing:s' &&"
                         "s.shout() === 's!' &&"
                         "Object.getPrototypeOf(test.Special.prototype) === test.Thing.prototype"));
    EXPECT_TRUE(EvalBool("!(new test.Thing('t') instanceof test.Special) &&"
                         "test.makeThing('m') instanceof test.Thing"));
}

TEST_F(JSClassTest, ScriptClassesExtendNativeClassesAndMayAddProperties)
{
    EXPECT_EQ(EvalString("class Mine extends test.Special {\n"
                         "  extra = 5;\n"
                         "  constructor(name) { super(name); this.more = 'm'; }\n"
                         "  twice() { return this.shout() + this.extra + this.more; }\n"
                         "}\n"
                         "const mine = new Mine('me');\n"
                         "mine instanceof Mine && mine instanceof test.Thing ? mine.twice() : 'not an instance'"),
              "me!5m");
    EXPECT_EQ(EvalString("test.needThing(mine)"), "me");
}

TEST_F(JSClassTest, NativeInstancesRefuseNewProperties)
{
    EXPECT_EQ(Thrown(*this, "new test.Thing('t').extra = 1"),
              "true:can't define property \"extra\": Object is not extensible");
    EXPECT_EQ(Thrown(*this, "Object.defineProperty(new test.Thing('t'), Symbol('s'), { value: 1 })"),
              "true:can't define property \"Symbol(s)\": Object is not extensible");
}

TEST_F(JSClassTest, VectorComponentsAreReadAndWrittenByIndex)
{
    EXPECT_EQ(EvalString("const v = new Vec3(1, 2, 3); v[0] = 10; v[2] += 1; [v.x, v[1], v.z, v.length()].join(',')"),
              "10,2,4,10.954451150103322");
    EXPECT_EQ(EvalString("const w = new Vec2(5, 6); w[1] = 7; [w[0], w.y].join(',')"), "5,7");
}

TEST_F(JSClassTest, ClassesRegisteredLaterReachLaterEnvironments)
{
    ASSERT_NE(Env(), nullptr);
    // The engine's class record keeps at most 63 characters of a name.
    const std::string longName(70, 'L');
    ReflectedClass* late = scripting.GetGlobal()->AddNamespace("later")->NewClass(longName.c_str());
    late->RegisterConstructor("", [](CNativeState* state, int, void* self) {
        state->ReturnObject(static_cast<JSFixture*>(self)->MakeThing("late",
                                                                    static_cast<JSFixture*>(self)->thingClass));
        return true;
    }, this);
    late->RegisterFunction("ts|i", "ts|i", [](CNativeState* state, int, void*) {
        state->ReturnNull();
        return true;
    });
    EXPECT_EQ(EvalString("typeof later"), "undefined");
    CJSScriptEnvironment* fresh = NewEnvironment();
    EXPECT_EQ(IntegerOf(Eval("later." + longName + ".name.length", fresh)), 63);
    EXPECT_EQ(IntegerOf(Eval("later." + longName + ".prototype['ts|i'].length", fresh)), 1);
    EXPECT_EQ(EvalString("test.needThing(new later." + longName + "())", fresh), "late");
}

} // namespace
} // namespace JSTest
