#include "JSTestSupport.h"

#include "Engine/LambdaFunction.h"

namespace JSTest {
namespace {

// Describes a script value in one line, so that a native value can be checked after it reached
// a script as a native's result and as a callback argument.
constexpr const char* kDescribe = R"JS(
function describe(v) {
    if (v === null) return 'null';
    if (v === undefined) return 'undefined';
    if (v instanceof ArrayBuffer) return 'bytes:' + Array.from(new Uint8Array(v)).join(',');
    if (v instanceof Vec3) return 'vec3:' + [v.x, v.y, v.z].join(',');
    if (v instanceof Vec2) return 'vec2:' + [v.x, v.y].join(',');
    if (v instanceof Matrix4x4) return 'matrix:' + v.get(0) + ',' + v.get(15);
    if (v instanceof test.Thing) return 'thing:' + v.name;
    if (Array.isArray(v)) return '[' + v.map(describe).join(',') + ']';
    if (typeof v === 'function') return 'function:' + describe(v());
    if (typeof v === 'object')
        return '{' + Object.keys(v).sort().map((k) => k + '=' + describe(v[k])).join(',') + '}';
    if (typeof v === 'string') return JSON.stringify(v);
    return typeof v + ':' + String(v);
}
)JS";

struct JSValueConversionTest : JSFixture {
    JSValueConversionTest() { Run(kDescribe, "describe.js"); }

    // What a script sees when a native returns the value, and when a callback receives it.
    std::pair<std::string, std::string> Describe(const Strong<CArgument>& value)
    {
        gift = value;
        const std::string returned = EvalString("describe(test.give())");
        Strong<CFunction> callback = FunctionOf("(v) => describe(v)");
        std::string passed = "<no callback>";
        if (callback) {
            auto results = MakeStrong<CReturnValue>();
            CArgumentArray arguments;
            arguments.Add(value);
            EXPECT_TRUE(callback->Call(arguments, results));
            passed = StringOf(results->GetAt(0));
        }
        return {returned, passed};
    }
};

struct ScriptToNativeCase {
    const char* expression;
    const char* type;
};

TEST_F(JSValueConversionTest, ScriptValuesReachNativesAsTheMatchingArgumentType)
{
    const ScriptToNativeCase cases[] = {
        {"undefined", "ARGUMENT_UNDEFINED"},
        {"null", "ARGUMENT_NIL"},
        {"5", "ARGUMENT_INTEGER"},
        {"-2147483648", "ARGUMENT_INTEGER"},
        {"2.5 * 2", "ARGUMENT_INTEGER"},
        {"5.5", "ARGUMENT_DOUBLE"},
        {"2147483648", "ARGUMENT_DOUBLE"},
        {"-0", "ARGUMENT_DOUBLE"},
        {"'text'", "ARGUMENT_STRING"},
        {"Symbol('s')", "ARGUMENT_UNDEFINED"},
        {"false", "ARGUMENT_BOOLEAN"},
        {"123456789012345n", "ARGUMENT_LONGINTEGER"},
        {"2n ** 80n", "ARGUMENT_DOUBLE"},
        {"() => 1", "ARGUMENT_FUNCTION"},
        {"test.echo", "ARGUMENT_FUNCTION"},
        {"new Uint8Array([1, 2]).buffer", "ARGUMENT_BYTES"},
        {"new Vec2(1, 2)", "ARGUMENT_VECTOR2D"},
        {"new Vec3(1, 2, 3)", "ARGUMENT_VECTOR3D"},
        {"new Matrix4x4()", "ARGUMENT_MATRIX4X4"},
        {"new test.Thing('a')", "ARGUMENT_OBJECT"},
        {"test.Thing.prototype", "ARGUMENT_UNDEFINED"},
        {"[1, 'a', [true]]", "ARGUMENT_ARRAY"},
        {"({ a: 1 })", "ARGUMENT_JSVALUE"},
        {"new Map()", "ARGUMENT_JSVALUE"},
        {"new Uint8Array(2)", "ARGUMENT_JSVALUE"},
        // An object that merely inherits from a native prototype is no native instance.
        {"Object.create(test.Thing.prototype)", "ARGUMENT_JSVALUE"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(EvalString(std::string("test.typeOf(") + c.expression + ")"), c.type) << c.expression;
}

TEST_F(JSValueConversionTest, ScriptValuesKeepTheirContentOnTheWayToNatives)
{
    ASSERT_TRUE(Run("test.record(7, 1.25, 'a\\0b\\u00e9', '\\ud800', true, null, 9007199254740993n,"
                    "    [1, [2, 'x']], new Uint8Array([0, 255, 7]).buffer, new Vec3(1.5, 2, -3), new Vec2(4, 5),"
                    "    new test.Thing('named'));"));
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(IntegerOf(Recorded(0, 0)), 7);
    double number = 0;
    ASSERT_TRUE(Recorded(0, 1)->ToNumber(number));
    EXPECT_EQ(number, 1.25);
    EXPECT_EQ(StringOf(Recorded(0, 2)), std::string("a\0b\xC3\xA9", 5));
    // A lone surrogate has no UTF-8 form; it arrives as the replacement character.
    EXPECT_EQ(StringOf(Recorded(0, 3)), "\xEF\xBF\xBD");
    EXPECT_TRUE(Recorded(0, 4)->ToBoolean());
    EXPECT_EQ(Recorded(0, 5)->GetType(), ARGUMENT_NIL);
    int64_t large = 0;
    ASSERT_TRUE(Recorded(0, 6)->ToNumber(large));
    EXPECT_EQ(large, 9007199254740993LL);
    auto* array = static_cast<CArgumentArray*>(Recorded(0, 7));
    ASSERT_EQ(array->GetArrayCount(), 2u);
    auto* inner = static_cast<CArgumentArray*>(array->GetAt(1));
    ASSERT_TRUE(inner->IsArray());
    EXPECT_EQ(StringOf(inner->GetAt(1)), "x");
    size_t length = 0;
    const uint8_t* bytes = Recorded(0, 8)->ToBytes(&length);
    ASSERT_EQ(length, 3u);
    EXPECT_EQ(bytes[1], 255);
    CVector3D vector;
    ASSERT_TRUE(Recorded(0, 9)->ToVector3D(vector));
    EXPECT_EQ(vector.x, 1.5f);
    EXPECT_EQ(vector.z, -3.0f);
    CVector2D flat;
    ASSERT_TRUE(Recorded(0, 10)->ToVector2D(flat));
    EXPECT_EQ(flat.y, 5.0f);
    auto* thing = dynamic_cast<CTestThing*>(Recorded(0, 11)->ToObject());
    ASSERT_NE(thing, nullptr);
    EXPECT_EQ(thing->m_name, "named");
}

struct NativeToScriptCase {
    const char* name;
    Strong<CArgument> value;
    const char* returned;
    const char* passed;
};

TEST_F(JSValueConversionTest, NativeValuesReachScriptsAsResultsAndAsCallbackArguments)
{
    auto nested = MakeStrong<CArgumentArray>();
    nested->AddNumber(int32_t(1));
    auto inner = MakeStrong<CArgumentArray>();
    inner->AddString("x");
    inner->AddNull();
    nested->AddAndOwn(inner);
    auto map = MakeStrong<CArgumentMap>();
    map->Set("b", MakeStrong<CArgumentBoolean>(true));
    map->Set("n", MakeStrong<CArgumentInteger>(3));
    CMatrix4x4 matrix;
    matrix[0] = 1.0f;
    matrix[15] = 16.0f;
    auto function = MakeStrong<CLambdaFunction>([](const CArgumentArray&, CReturnValue* results) {
        if (results)
            results->AddNumber(int32_t(9));
        return true;
    });
    const uint8_t bytes[] = {0, 128, 255};
    Strong<CTestThing> thing = MakeThing("given");

    const NativeToScriptCase cases[] = {
        {"nil", MakeStrong<CArgument>(ARGUMENT_NIL), "null", "null"},
        {"boolean", MakeStrong<CArgumentBoolean>(true), "boolean:true", "boolean:true"},
        {"string", MakeStrong<CArgumentString>("h\0i", 3), "\"h\\u0000i\"", "\"h\\u0000i\""},
        {"malformed string", MakeStrong<CArgumentString>("a\xFFz"), "\"a\xEF\xBF\xBDz\"", "\"a\xEF\xBF\xBDz\""},
        {"integer", MakeStrong<CArgumentInteger>(-7), "number:-7", "number:-7"},
        {"float", MakeStrong<CArgumentFloat>(1.5f), "number:1.5", "number:1.5"},
        {"long integer", MakeStrong<CArgumentLongInteger>((int64_t(1) << 53) + 1), "number:9007199254740992",
         "number:9007199254740992"},
        {"double", MakeStrong<CArgumentDouble>(0.25), "number:0.25", "number:0.25"},
        {"undefined", MakeStrong<CArgument>(ARGUMENT_UNDEFINED), "undefined", "undefined"},
        {"object", MakeStrong<CArgumentObject>(thing), "thing:given", "thing:given"},
        {"no object", MakeStrong<CArgumentObject>(nullptr), "null", "undefined"},
        {"vector 2", MakeStrong<CArgumentVector2D>(CVector2D{1.5f, -2.0f}), "vec2:1.5,-2", "vec2:1.5,-2"},
        {"vector 3", MakeStrong<CArgumentVector3D>(CVector3D{1.0f, 2.0f, 3.5f}), "vec3:1,2,3.5", "vec3:1,2,3.5"},
        {"vector 4", MakeStrong<CArgument>(ARGUMENT_VECTOR4D), "null", "undefined"},
        {"matrix", MakeStrong<CArgumentMatrix4x4>(matrix), "matrix:1,16", "undefined"},
        {"table", MakeStrong<CArgument>(ARGUMENT_TABLE), "null", "undefined"},
        {"lua reference", MakeStrong<CArgument>(ARGUMENT_LUAREF), "null", "undefined"},
        {"array", nested, "[number:1,[\"x\",null]]", "[number:1,[\"x\",null]]"},
        {"map", map, "{b=boolean:true,n=number:3}", "{b=boolean:true,n=number:3}"},
        {"function", MakeStrong<CArgumentFunction>(function.Get()), "function:number:9", "function:number:9"},
        {"bytes", MakeStrong<CArgumentBytes>(bytes, sizeof(bytes)), "bytes:0,128,255", "bytes:0,128,255"},
        {"empty bytes", MakeStrong<CArgumentBytes>(), "bytes:", "bytes:"},
    };
    for (const auto& c : cases) {
        const auto [returned, passed] = Describe(c.value);
        EXPECT_EQ(returned, c.returned) << c.name;
        EXPECT_EQ(passed, c.passed) << c.name;
    }
}

TEST_F(JSValueConversionTest, PlainScriptObjectPassesThroughNativeCodeAsItself)
{
    EXPECT_TRUE(EvalBool("const original = { a: 1 }; test.call((o) => o === original, original)"));
    // A native's result never hands an opaque script object back.
    EXPECT_TRUE(EvalBool("test.echo(original) === null"));
}

TEST_F(JSValueConversionTest, FunctionsKeepTheirIdentityThroughNativeCode)
{
    EXPECT_TRUE(EvalBool("const f = () => 1; test.echo(f) === f"));
    EXPECT_TRUE(EvalBool("const native = test.echo(test.echo); native === test.echo(native)"));
    EXPECT_EQ(IntegerOf(Eval("test.echo((a, b) => a * b)(6, 7)")), 42);
}

TEST_F(JSValueConversionTest, NativeObjectHasOneWrapperWhileItLives)
{
    Strong<CTestThing> thing = MakeThing("same");
    gift = MakeStrong<CArgumentObject>(thing);
    EXPECT_TRUE(EvalBool("const first = test.give(); first.name === 'same'"));
    gift = MakeStrong<CArgumentObject>(thing);
    EXPECT_TRUE(EvalBool("test.give() === first"));
}

TEST_F(JSValueConversionTest, MapKeysBecomeOwnPropertiesEvenWhenTheyNameThePrototype)
{
    // A key from outside must not replace the object's prototype.
    auto map = MakeStrong<CArgumentMap>();
    map->Set("__proto__", MakeStrong<CArgumentInteger>(1));
    gift = map;
    EXPECT_TRUE(EvalBool("const m = test.give(); Object.getPrototypeOf(m) === Object.prototype &&"
                         "Object.keys(m).length === 1 && m['__proto__'] === 1"));
}

TEST_F(JSValueConversionTest, ArraysFromNativesIgnoreSettersOnTheArrayPrototype)
{
    auto array = MakeStrong<CArgumentArray>();
    array->AddNumber(int32_t(5));
    gift = array;
    EXPECT_TRUE(EvalBool("let hijacked = false;"
                         "Object.defineProperty(Array.prototype, 0,"
                         "    { set() { hijacked = true; }, configurable: true });"
                         "const a = test.give(); delete Array.prototype[0]; !hijacked && a[0] === 5"));
}

TEST_F(JSValueConversionTest, ErrorsOfSharedClassMethodsBelongToTheCallersRealm)
{
    EXPECT_TRUE(EvalBool("let e; try { new Matrix4x4().get(99); } catch (x) { e = x; }"
                         "e instanceof Error && e.message === 'Index 99 out of range'"));
    EXPECT_TRUE(EvalBool("let c; try { new test.Thing(); } catch (x) { c = x; } c instanceof Error"));
}

struct ConversionLimitCase {
    const char* name;
    const char* setup;
    const char* message;
};

TEST_F(JSValueConversionTest, CyclicDeepAndHugeArraysFailWithAnErrorInsteadOfRecursingForever)
{
    const ConversionLimitCase cases[] = {
        // A cycle would otherwise recurse until the stack runs out.
        {"cycle", "const v = []; v.push(v);", "Value nested too deeply to convert (more than 32 levels)"},
        {"deep", "let v = 0; for (let i = 0; i < 40; ++i) v = [v];",
         "Value nested too deeply to convert (more than 32 levels)"},
        // A sparse array's length is not a count of real elements.
        {"sparse", "const v = []; v.length = 4294967295;", "Value too large to convert (more than 1048576 elements)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EvalString(std::string("(() => {") + c.setup +
                             "try { test.typeOf(v); return 'converted'; } catch (e) { return e.message; } })()"),
                  c.message)
            << c.name;
    }
    EXPECT_EQ(EvalString("let fine = 0; for (let i = 0; i < 31; ++i) fine = [fine]; test.typeOf(fine)"),
              "ARGUMENT_ARRAY");
}

TEST_F(JSValueConversionTest, CompletionValueObjectIsCarriedOpaquely)
{
    Strong<CArgument> value = Eval("({ kept: true })");
    ASSERT_TRUE(value);
    EXPECT_EQ(value->GetType(), ARGUMENT_JSVALUE);
    Strong<CArgument> clone = value->Clone();
    ASSERT_TRUE(clone);
    EXPECT_EQ(clone->GetType(), ARGUMENT_JSVALUE);
    Strong<CFunction> read = FunctionOf("(o) => o.kept");
    auto results = MakeStrong<CReturnValue>();
    CArgumentArray arguments;
    arguments.Add(clone);
    ASSERT_TRUE(read->Call(arguments, results));
    EXPECT_TRUE(results->GetAt(0)->ToBoolean());
}

} // namespace
} // namespace JSTest
