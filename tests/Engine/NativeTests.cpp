#include "Engine/NativeTestSupport.h"

#include "Engine/CorvaneNative.h"
#include "Engine/NativeCallHelper.h"
#include "Engine/ReflectedClass.h"
#include "Engine/ScriptStream.h"
#include "Engine/Scripting.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>

using namespace Corvane3D;
using namespace NativeTest;

namespace {

// Checks its arguments the way a native written for the mask in its private pointer would:
// required parameters, then optional ones when present, and nothing after "*".
bool CheckByMask(CNativeState* state, int, void* privateData)
{
    const char* mask = static_cast<const char*>(privateData);
    bool optional = false;
    size_t index = 0;
    for (const char* p = mask; *p; ++p) {
        if (*p == 't')
            continue;
        if (*p == '|') {
            optional = true;
            continue;
        }
        if (*p == '*')
            break;
        if (optional && index >= state->GetArgumentCount())
            break;
        bool ok = true;
        switch (*p) {
        case 'b': {
            bool value;
            ok = state->CheckBoolean(index, value);
            break;
        }
        case 'i': {
            int32_t value;
            ok = state->CheckNumber(index, value);
            break;
        }
        case 'f': {
            float value;
            ok = state->CheckNumber(index, value);
            break;
        }
        case 's': {
            const char* value;
            ok = state->CheckString(index, value);
            break;
        }
        case 'c': {
            CFunction* value;
            ok = state->CheckFunction(index, value);
            break;
        }
        case 'x': {
            CBaseObject* value;
            ok = state->CheckReferenceable(index, value);
            break;
        }
        case 'z': {
            CVector2D value;
            ok = state->CheckVector2D(index, value);
            break;
        }
        case 'v': {
            CVector3D value;
            ok = state->CheckVector3D(index, value);
            break;
        }
        default: // '.': any value
            break;
        }
        if (!ok)
            return false;
        ++index;
    }
    state->ReturnBoolean(true);
    return true;
}

tNativeCallResult CallWithMask(const char* mask, const CArgumentArray& arguments)
{
    ScriptFunction function("checked", mask, CheckByMask);
    return CNativeCallHelper().Call(function, const_cast<char*>(mask), arguments);
}

} // namespace

TEST(NativeMask, RequiredArgumentCountStopsAtTheFirstOptionalOrVariadicMarkAndSkipsThis)
{
    struct Case {
        const char* mask;
        int count;
    };
    const Case cases[] = {
        {"ts.|b", 2}, {"t", 0}, {"*", 0}, {"sx*", 2}, {"iii|i", 3}, {"", 0}, {nullptr, 0}, {"tsi", 2}, {"|s", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mask ? c.mask : "(null)");
        EXPECT_EQ(ScriptFunction::CalcArgumentCount(c.mask), c.count);
        EXPECT_EQ(ScriptFunction("f", c.mask, CheckByMask).CalcArgumentCount(), c.count);
    }
}

TEST(NativeMask, ArgumentChecksAcceptTheRightTypesAndNameTheFirstWrongOrMissingArgument)
{
    auto object = MakeStrong<CBaseObject>();
    auto function = MakeStrong<CLambdaFunction>(nullptr);
    struct Case {
        const char* mask;
        Strong<CArgumentArray> arguments;
        const char* error; // null: the call succeeds
    };
    const Case cases[] = {
        {"sib", Args("a", 1, true), nullptr},
        {"sib", Args("a", "1", true), "Expected integer for argument 2"},
        {"sib", Args("a", 1), "Expected boolean for argument 3"},
        {"sib", Args(), "Expected string for argument 1"},
        {"b", Args(1), "Expected boolean for argument 1"},
        {"s", Args(nullptr), "Expected string for argument 1"},
        {"s", Args(Undefined), "Expected string for argument 1"},
        {"s|i", Args("a"), nullptr},
        {"s|i", Args("a", 2), nullptr},
        {"s|i", Args("a", true), "Expected integer for argument 2"},
        {"iii|i", Args(1, 2), "Expected integer for argument 3"},
        {"iii|i", Args(1, 2, 3, 4.5), nullptr},
        {"sx*", Args("a", object, 1, "x", nullptr), nullptr},
        {"sx*", Args("a", 5), "Expected Instance for argument 2"},
        {"ts.|b", Args("a", 7), nullptr},
        {"ts.|b", Args("a", nullptr, 1), "Expected boolean for argument 3"},
        {"f", Args(1), nullptr},
        {"f", Args(int64_t(1) << 40), nullptr},
        {"f", Args("1"), "Expected number for argument 1"},
        {"c", Args(function), nullptr},
        {"c", Args(object), "Expected Function for argument 1"},
        {"v", Args(CVector3D{1, 2, 3}), nullptr},
        {"v", Args(NumberList{{1, 2, 3}}), nullptr},
        {"v", Args(NumberList{{1, 2}}), "Expected Vector3D for argument 1"},
        {"v", Args(NumberList{{1, 2, 3}, 2}), "Expected Vector3D for argument 1"},
        {"v", Args(CVector2D{1, 2}), "Expected Vector3D for argument 1"},
        {"z", Args(NumberList{{1, 2}}), nullptr},
        {"z", Args(NumberList{{1, 2, 3}}), "Expected Vector2D for argument 1"},
        {"", Args(1, 2, 3), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mask);
        const tNativeCallResult result = CallWithMask(c.mask, *c.arguments);
        EXPECT_TRUE(result.KeptContract());
        if (c.error) {
            EXPECT_FALSE(result.m_bResult);
            EXPECT_EQ(result.m_error, c.error);
        } else {
            EXPECT_TRUE(result.m_bResult) << result.m_error;
        }
    }
}

TEST(NativeChecks, NumbersConvertToTheOutputTypeWithoutCoercingOtherTypes)
{
    auto arguments = Args(3.9, -1, 300, 1.5f, int64_t(-2), "7");
    CNativeState state(nullptr, nullptr, arguments);

    int32_t fromDouble = 0;
    EXPECT_TRUE(state.CheckNumber(0, fromDouble));
    EXPECT_EQ(fromDouble, 3);
    uint32_t unsignedPattern = 0;
    EXPECT_TRUE(state.CheckNumber(1, unsignedPattern));
    EXPECT_EQ(unsignedPattern, 4294967295u);
    int8_t lowBits = 0;
    EXPECT_TRUE(state.CheckNumber(2, lowBits));
    EXPECT_EQ(lowBits, int8_t(300 - 256));
    uint16_t fromFloat = 0;
    EXPECT_TRUE(state.CheckNumber(3, fromFloat));
    EXPECT_EQ(fromFloat, 1);
    double fromLong = 0;
    EXPECT_TRUE(state.CheckNumber(4, fromLong));
    EXPECT_EQ(fromLong, -2.0);
    uint64_t negativeDoubleSaturates = 99;
    auto negative = Args(-5.0);
    CNativeState negativeState(nullptr, nullptr, negative);
    EXPECT_TRUE(negativeState.CheckNumber(0, negativeDoubleSaturates));
    EXPECT_EQ(negativeDoubleSaturates, 0u);

    EXPECT_FALSE(state.HasError());
    int32_t fromString = 0;
    EXPECT_FALSE(state.CheckNumber(5, fromString));
    EXPECT_STREQ(GetError(), "Expected integer for argument 6");
    double fromStringDouble = 0;
    EXPECT_FALSE(state.CheckNumber(5, fromStringDouble));
    EXPECT_STREQ(GetError(), "Expected number for argument 6");
    EXPECT_FALSE(state.CheckNumber(6, fromStringDouble));
    EXPECT_STREQ(GetError(), "Expected number for argument 7");
    EXPECT_TRUE(state.HasError());
}

TEST(NativeChecks, StringsAndBytesGiveTheirDataAndLength)
{
    const char raw[] = {'a', '\0', 'b'};
    auto arguments = Args(std::string(raw, 3), Strong<CArgument>(MakeStrong<CArgumentBytes>("xyz", 3)), 5);
    CNativeState state(nullptr, nullptr, arguments);

    const char* text = nullptr;
    size_t length = 0;
    ASSERT_TRUE(state.CheckString(0, text, &length));
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(std::memcmp(text, raw, 3), 0);
    EXPECT_FALSE(state.CheckString(1, text));
    EXPECT_STREQ(GetError(), "Expected string for argument 2");

    const uint8_t* data = nullptr;
    ASSERT_TRUE(state.CheckBytes(1, data, length));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), length), "xyz");
    ASSERT_TRUE(state.CheckBytes(0, data, length));
    EXPECT_EQ(length, 3u);
    EXPECT_FALSE(state.CheckBytes(2, data, length));
    EXPECT_STREQ(GetError(), "Expected bytes for argument 3");
    EXPECT_FALSE(state.CheckBytes(3, data, length));
    EXPECT_STREQ(GetError(), "Expected bytes for argument 4");
}

TEST(NativeChecks, MatrixOnlyAcceptsMatrixValues)
{
    CMatrix4x4 matrix;
    matrix[12] = 5.0f;
    auto arguments = Args(matrix, NumberList{std::vector<double>(16, 1.0)});
    CNativeState state(nullptr, nullptr, arguments);
    CMatrix4x4 out;
    ASSERT_TRUE(state.CheckMatrix4x4(0, out));
    EXPECT_EQ(out, matrix);
    EXPECT_FALSE(state.CheckMatrix4x4(1, out));
    EXPECT_STREQ(GetError(), "Expected Matrix4x4 for argument 2");
}

namespace {

struct ClassFixture : ::testing::Test {
    ReflectedClass base{"Base"};
    ReflectedClass derived{"Derived", &base};
    ReflectedClass other{"Other"};

    Strong<CBaseObject> Instance(ReflectedClass* cls)
    {
        auto object = MakeStrong<CBaseObject>();
        object->SetReflectedClass(cls);
        return object;
    }
};

} // namespace

TEST_F(ClassFixture, CheckClassAcceptsTheClassAndItsDescendantsAndOptionallyNull)
{
    auto derivedObject = Instance(&derived);
    auto otherObject = Instance(&other);
    auto classless = MakeStrong<CBaseObject>();
    auto arguments = Args(derivedObject, otherObject, Undefined, nullptr, classless, 3,
                          Strong<CArgument>(MakeStrong<CArgumentObject>(nullptr)));
    CNativeState state(nullptr, nullptr, arguments);
    CBaseObject* out = nullptr;

    EXPECT_TRUE(state.CheckClass(&base, 0, false, out));
    EXPECT_EQ(out, derivedObject.Get());
    EXPECT_FALSE(state.CheckClass(&derived, 1, false, out));
    EXPECT_STREQ(GetError(), "Expected Derived for argument 2");
    EXPECT_EQ(out, nullptr);

    out = derivedObject;
    EXPECT_TRUE(state.CheckClass(&base, 2, true, out));
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(state.CheckClass(&base, 3, true, out));
    EXPECT_FALSE(state.CheckClass(&base, 3, false, out));
    EXPECT_STREQ(GetError(), "Expected Base for argument 4");
    EXPECT_FALSE(state.CheckClass(&base, 4, false, out));
    EXPECT_STREQ(GetError(), "Expected Base for argument 5");
    EXPECT_FALSE(state.CheckClass(&base, 5, true, out));
    EXPECT_STREQ(GetError(), "Expected Base for argument 6");
    // An instance value without an object must not come back as a valid object of the class.
    EXPECT_FALSE(state.CheckClass(&base, 6, false, out));
    EXPECT_FALSE(state.CheckClass(&base, 7, true, out));
    EXPECT_STREQ(GetError(), "Expected Base for argument 8");

    EXPECT_TRUE(state.CheckReferenceable(6, out));
    EXPECT_EQ(out, nullptr);
    EXPECT_FALSE(state.CheckReferenceable(5, out));
    EXPECT_STREQ(GetError(), "Expected Instance for argument 6");
}

TEST_F(ClassFixture, GetThisNamesTheExpectedClassOrReportsAMissingThis)
{
    CNativeState plain(nullptr, nullptr, nullptr);
    CBaseObject* self = nullptr;
    EXPECT_FALSE(plain.GetThis(&base, self));
    EXPECT_STREQ(GetError(), "'this' is null");
    EXPECT_TRUE(plain.HasError());

    auto otherObject = Instance(&other);
    CNativeState method(nullptr, nullptr, nullptr);
    method.SetThis(otherObject);
    EXPECT_FALSE(method.GetThis(&base, self));
    EXPECT_STREQ(GetError(), "Base expected for 'this'");
    EXPECT_TRUE(method.GetThis(nullptr, self));
    EXPECT_EQ(self, otherObject.Get());

    // `this` is held weakly: an object that dies during the call is reported, not used.
    auto derivedObject = Instance(&derived);
    CNativeState dying(nullptr, nullptr, nullptr);
    dying.SetThis(derivedObject);
    EXPECT_TRUE(dying.GetThis(&base, self));
    derivedObject = nullptr;
    EXPECT_FALSE(dying.GetThis(&base, self));
    EXPECT_STREQ(GetError(), "'this' is null");
}

TEST(NativeChecks, StreamsMustBeOpenScriptStreams)
{
    CScripting scripting;
    ReflectedClass* streamClass = scripting.GetGlobal()->NewClass("Stream");
    auto open = MakeStrong<CScriptStream>(MakeStrong<CUnlimitedStream>());
    open->SetReflectedClass(streamClass);
    auto closed = MakeStrong<CScriptStream>(MakeStrong<CUnlimitedStream>());
    closed->SetReflectedClass(streamClass);
    closed->Close();
    auto plain = MakeStrong<CBaseObject>();

    auto arguments = Args(open, closed, plain, "file");
    CNativeState state(&scripting, nullptr, arguments);
    Stream* stream = nullptr;
    EXPECT_TRUE(state.CheckStream(0, stream));
    EXPECT_EQ(stream, open->GetStream());
    EXPECT_FALSE(state.CheckStream(1, stream));
    EXPECT_STREQ(GetError(), "Stream closed");
    EXPECT_FALSE(state.CheckStream(2, stream));
    EXPECT_STREQ(GetError(), "Expected Stream for argument 3");
    EXPECT_FALSE(state.CheckStream(3, stream));
    EXPECT_STREQ(GetError(), "Expected Stream for argument 4");
}

TEST(NativeReturns, NumbersTakeTheirValueTypeFromTheCType)
{
    CNativeState state(nullptr, nullptr, nullptr);
    state.ReturnNumber(uint32_t(4294967295u));
    state.ReturnNumber(uint64_t(5));
    state.ReturnNumber(int16_t(-3));
    state.ReturnNumber(uint8_t(200));
    state.ReturnNumber(1.5f);
    state.ReturnNumber(2.25);
    state.ReturnNumber(int64_t(-1) << 40);

    struct Case {
        uint8_t type;
        double value;
    };
    const Case cases[] = {
        {ARGUMENT_INTEGER, -1},    {ARGUMENT_LONGINTEGER, 5}, {ARGUMENT_INTEGER, -3},
        {ARGUMENT_INTEGER, 200},   {ARGUMENT_FLOAT, 1.5},     {ARGUMENT_DOUBLE, 2.25},
        {ARGUMENT_LONGINTEGER, -1099511627776.0},
    };
    const CReturnValue& results = state.GetReturnValue();
    ASSERT_EQ(results.GetArrayCount(), std::size(cases));
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(results.GetAt(i)->GetType(), cases[i].type);
        double value = 0;
        results.GetAt(i)->ToNumber(value);
        EXPECT_EQ(value, cases[i].value);
    }
}

TEST(NativeReturns, ValuesAreCopiedObjectsAreReferencedAndStreamsWrapped)
{
    CScripting scripting;
    ReflectedClass* streamClass = scripting.GetGlobal()->NewClass("Stream");
    CNativeState state(&scripting, nullptr, nullptr);

    std::string text = "hello";
    state.ReturnString(text.c_str(), 3);
    text[0] = 'J';
    auto object = MakeStrong<CBaseObject>();
    state.ReturnObject(object);
    state.ReturnObject(nullptr);
    auto stream = MakeStrong<CUnlimitedStream>();
    state.ReturnStream(stream);
    auto original = MakeStrong<CArgumentInteger>(7);
    state.Return(original);
    state.ReturnAndOwn(MakeStrong<CArgumentDouble>(0.5));

    const CReturnValue& results = state.GetReturnValue();
    ASSERT_EQ(results.GetArrayCount(), 6u);
    EXPECT_EQ(StringOf(results.GetAt(0)), "hel");
    EXPECT_EQ(results.GetAt(1)->ToObject(), object.Get());
    EXPECT_EQ(object->GetRefCount(), 2);
    EXPECT_EQ(results.GetAt(2)->GetType(), ARGUMENT_NIL);
    auto* wrapped = dynamic_cast<CScriptStream*>(results.GetAt(3)->ToObject());
    ASSERT_NE(wrapped, nullptr);
    EXPECT_EQ(wrapped->GetStream(), stream.Get());
    EXPECT_EQ(wrapped->GetReflectedClass(), streamClass);
    EXPECT_NE(results.GetAt(4), original.Get());
    EXPECT_EQ(IntegerOf(results.GetAt(4)), 7);
    EXPECT_EQ(results.GetAt(5)->GetType(), ARGUMENT_DOUBLE);
}

TEST(NativeErrors, ErrorTextsAreCutTo1023BytesAndAStateStartsWithoutOne)
{
    const std::string longText(2000, 'e');
    EXPECT_FALSE(SetError("%s", longText.c_str()));
    EXPECT_EQ(std::strlen(GetError()), ErrorTextSize - 1);

    SetError("outer %d", 1);
    // Re-reporting the current text through itself keeps it intact.
    SetError("%s", g_szError);
    EXPECT_STREQ(GetError(), "outer 1");

    CNativeState state(nullptr, nullptr, nullptr);
    EXPECT_STREQ(GetError(), "");
    EXPECT_FALSE(state.HasError());
    EXPECT_FALSE(state.Error("failed with %s", longText.c_str()));
    EXPECT_TRUE(state.HasError());
    EXPECT_EQ(std::strlen(GetError()), ErrorTextSize - 1);
    EXPECT_EQ(std::strncmp(GetError(), "failed with eee", 15), 0);
}

namespace {

bool ModuleCallback(Interfaces::INativeState*, int, void*)
{
    return true;
}

} // namespace

TEST(NativeFunctions, FunctionsWithoutACallableCallbackFailWithCannotCall)
{
    CArgumentArray none;
    struct Case {
        ScriptFunction function;
        const char* error;
    };
    const Case cases[] = {
        {ScriptFunction("spawn", "i", static_cast<NativeFunction>(nullptr)), "Cannot call spawn"},
        {ScriptFunction(nullptr, nullptr, static_cast<NativeFunction>(nullptr)), "Cannot call "},
        {ScriptFunction(), "Cannot call "},
        {ScriptFunction("fromModule", "", ModuleCallback), "Cannot call fromModule"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.error);
        const tNativeCallResult result = CNativeCallHelper().Call(c.function, nullptr, none);
        EXPECT_FALSE(result.m_bResult);
        EXPECT_TRUE(result.m_bHasError);
        EXPECT_EQ(result.m_error, c.error);
    }
    EXPECT_FALSE(ScriptFunction().CanCall());
    EXPECT_TRUE(ScriptFunction("fromModule", "", ModuleCallback).CanCall());
}

TEST(NativeFunctions, MovingAFunctionLeavesTheSourceEmptyAndCopyingDoesNot)
{
    ScriptFunction source("name", "si", CheckByMask);
    ScriptFunction copy(source);
    EXPECT_STREQ(copy.GetName(), "name");
    EXPECT_STREQ(source.GetMask(), "si");

    ScriptFunction moved(std::move(source));
    EXPECT_STREQ(moved.GetName(), "name");
    EXPECT_STREQ(moved.GetMask(), "si");
    EXPECT_TRUE(moved.CanCall());
    EXPECT_EQ(source.GetName(), nullptr);
    EXPECT_EQ(source.GetMask(), nullptr);
    EXPECT_FALSE(source.CanCall());

    ScriptFunction assigned("old", "b", CheckByMask);
    assigned = std::move(moved);
    EXPECT_STREQ(assigned.GetName(), "name");
    EXPECT_EQ(moved.GetName(), nullptr);
}
