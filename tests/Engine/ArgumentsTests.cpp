#include "Engine/ArgumentTestSupport.h"

#include "Engine/CorvaneArguments.h"
#include "Engine/ObjectValue.h"
#include "Engine/ReflectedClass.h"
#include "Engine/Stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <variant>

using namespace Corvane3D;
using namespace ArgumentTest;

namespace {

// An object whose own value is an element value, as elements make theirs.
struct ElementLike : CBaseObject {
    CArgument* CreateArgument() override { return MakeStrong<CArgumentNetObject>(this, 42, nullptr).Detach(); }
};

struct CountingFunction : CFunction {
};

} // namespace

TEST(ArgumentCreate, TypeIdsGiveEmptyValuesOnlyForTypesTheWireCanCarry)
{
    struct Case {
        unsigned type;
        bool created;
        const char* enumName;
        const char* displayName;
    };
    const Case cases[] = {
        {0, true, "ARGUMENT_NIL", "null"},          {1, true, "ARGUMENT_BOOLEAN", "boolean"},
        {2, true, "ARGUMENT_STRING", "string"},     {3, false, "ARGUMENT_TABLE", "table"},
        {4, true, "ARGUMENT_INTEGER", "integer"},   {5, true, "ARGUMENT_FLOAT", "number"},
        {6, false, "ARGUMENT_NETOBJECT", "element"}, {7, false, "ARGUMENT_OBJECT", "instance"},
        {8, true, "ARGUMENT_VECTOR2D", "Vector2D"}, {9, true, "ARGUMENT_VECTOR3D", "Vector3D"},
        {10, false, "ARGUMENT_VECTOR4D", "Vector4D"}, {11, true, "ARGUMENT_MATRIX4X4", "Matrix4x4"},
        {12, true, "ARGUMENT_UNDEFINED", "undefined"}, {13, false, "ARGUMENT_LUAREF", "luaref"},
        {14, false, "ARGUMENT_JSVALUE", "jsvalue"}, {15, true, "ARGUMENT_LONGINTEGER", "integer"},
        {16, true, "ARGUMENT_DOUBLE", "number"},    {17, true, "ARGUMENT_ARRAY", "array"},
        {18, true, "ARGUMENT_MAP", "map"},          {19, true, "ARGUMENT_FUNCTION", "function"},
        {20, false, "ARGUMENT_SQREF", "sqref"},     {21, true, "ARGUMENT_BYTES", "bytes"},
        {22, false, "unknown", "unknown"},          {255, false, "unknown", "unknown"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_STREQ(GetArgumentTypeEnumName(uint8_t(c.type)), c.enumName);
        EXPECT_STREQ(GetArgumentTypeDisplayName(uint8_t(c.type)), c.displayName);
        Strong<CArgument> value = CArgument::Create(uint8_t(c.type));
        ASSERT_EQ(bool(value), c.created);
        if (value) {
            EXPECT_EQ(value->GetType(), c.type);
            EXPECT_STREQ(value->GetTypeName(), c.displayName);
        }
    }
}

TEST(ArgumentCreate, ObjectsMakeTheirOwnValueHoldingAReference)
{
    auto object = MakeStrong<CBaseObject>();
    Strong<CArgument> instance = CArgument::Create(object);
    EXPECT_EQ(instance->GetType(), ARGUMENT_OBJECT);
    EXPECT_EQ(instance->ToObject(), object.Get());
    EXPECT_EQ(object->GetRefCount(), 2);
    instance = nullptr;
    EXPECT_EQ(object->GetRefCount(), 1);

    auto element = MakeStrong<ElementLike>();
    CArgumentArray list;
    list.AddObject(element);
    list.AddObject(nullptr);
    ASSERT_EQ(list.GetAt(0)->GetType(), ARGUMENT_NETOBJECT);
    EXPECT_EQ(static_cast<CArgumentNetObject*>(list.GetAt(0))->GetId(), 42);
    EXPECT_EQ(list.GetAt(1)->GetType(), ARGUMENT_NIL);
    EXPECT_EQ(CArgument::Create(static_cast<CBaseObject*>(nullptr))->GetType(), ARGUMENT_NIL);
}

TEST(ArgumentConversion, NumbersConvertBetweenWidthsAndSaturateFromFloatingPoint)
{
    using Expected = std::variant<int32_t, uint32_t, int64_t, uint64_t, float, double>;
    struct Case {
        const char* what;
        Strong<CArgument> value;
        Expected expected;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"double -2.7 truncates toward zero", MakeStrong<CArgumentDouble>(-2.7), int32_t(-2)},
        {"negative float into unsigned", MakeStrong<CArgumentFloat>(-1.0f), uint32_t(0)},
        {"long integer keeps its low bits", MakeStrong<CArgumentLongInteger>(4294967297), int32_t(1)},
        {"large double saturates high", MakeStrong<CArgumentDouble>(1e20), std::numeric_limits<int32_t>::max()},
        {"large negative double saturates low", MakeStrong<CArgumentDouble>(-1e20),
         std::numeric_limits<int32_t>::min()},
        {"just below the top", MakeStrong<CArgumentDouble>(2147483647.9), int32_t(2147483647)},
        {"just above the bottom", MakeStrong<CArgumentDouble>(-2147483648.9), std::numeric_limits<int32_t>::min()},
        {"NaN gives zero", MakeStrong<CArgumentDouble>(nan), int32_t(0)},
        {"infinity into signed 64", MakeStrong<CArgumentDouble>(inf), std::numeric_limits<int64_t>::max()},
        {"negative infinity into unsigned 64", MakeStrong<CArgumentDouble>(-inf), uint64_t(0)},
        {"large float into unsigned 32", MakeStrong<CArgumentFloat>(3e9f), uint32_t(3000000000u)},
        {"double past unsigned 64", MakeStrong<CArgumentDouble>(1e30), std::numeric_limits<uint64_t>::max()},
        {"double within unsigned 64", MakeStrong<CArgumentDouble>(1e19), uint64_t(10000000000000000000u)},
        {"negative integer reinterpreted", MakeStrong<CArgumentInteger>(-1), uint32_t(0xFFFFFFFFu)},
        {"negative integer sign-extended", MakeStrong<CArgumentInteger>(-1), uint64_t(0xFFFFFFFFFFFFFFFFu)},
        {"integer widened", MakeStrong<CArgumentInteger>(-5), int64_t(-5)},
        {"integer into double", MakeStrong<CArgumentInteger>(-5), double(-5.0)},
        {"long integer into unsigned 32", MakeStrong<CArgumentLongInteger>(-1), uint32_t(0xFFFFFFFFu)},
        {"long integer into float", MakeStrong<CArgumentLongInteger>(1 << 20), float(1 << 20)},
        {"huge double into float", MakeStrong<CArgumentDouble>(1e300), std::numeric_limits<float>::infinity()},
        {"float into double", MakeStrong<CArgumentFloat>(0.1f), double(0.1f)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::visit(
            [&](auto expected) {
                decltype(expected) out{};
                EXPECT_TRUE(c.value->ToNumber(out));
                EXPECT_EQ(out, expected);
            },
            c.expected);
    }
}

TEST(ArgumentConversion, WrongTypeLogsTheAssertionAndLeavesTheOutputAlone)
{
    LogCapture log;
    auto text = MakeStrong<CArgumentString>("7");
    auto number = MakeStrong<CArgumentInteger>(7);
    struct Case {
        const char* expression;
        const char* function;
        std::function<void()> convert;
    };
    const Case cases[] = {
        {"IsNumber()", "ToNumber",
         [&] {
             int32_t out = 99;
             EXPECT_FALSE(text->ToNumber(out));
             EXPECT_EQ(out, 99);
         }},
        {"IsString()", "ToString",
         [&] {
             size_t length = 5;
             EXPECT_EQ(number->ToString(&length), nullptr);
             EXPECT_EQ(length, 0u);
         }},
        {"IsBoolean()", "ToBoolean", [&] { EXPECT_FALSE(number->ToBoolean()); }},
        {"IsVector3D()", "ToVector3D",
         [&] {
             CVector3D out{1, 2, 3};
             EXPECT_FALSE(number->ToVector3D(out));
             EXPECT_EQ(out, (CVector3D{1, 2, 3}));
         }},
        {"IsMatrix4x4()", "ToMatrix4x4",
         [&] {
             CMatrix4x4 out;
             out[5] = 4;
             EXPECT_FALSE(number->ToMatrix4x4(out));
             EXPECT_EQ(out[5], 4);
         }},
        {"IsObject()", "ToObject", [&] { EXPECT_EQ(number->ToObject(), nullptr); }},
        {"IsFunction()", "ToFunction", [&] { EXPECT_EQ(number->ToFunction(), nullptr); }},
        {"IsBytes()", "ToBytes",
         [&] {
             size_t length = 5;
             EXPECT_EQ(text->ToBytes(&length), nullptr);
             EXPECT_EQ(length, 0u);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expression);
        log.lines.clear();
        c.convert();
        ASSERT_EQ(log.lines.size(), 1u);
        EXPECT_EQ(log.lines[0].level, LOG_ERROR);
        EXPECT_NE(log.lines[0].text.find(std::string("Expression: ") + c.expression), std::string::npos);
        EXPECT_NE(log.lines[0].text.find(c.function), std::string::npos);
    }
}

TEST(ArgumentConversion, StringsAndBytesReportTheirLength)
{
    CArgumentString text("a\0b", 3);
    size_t length = 0;
    const char* data = text.ToString(&length);
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(std::memcmp(data, "a\0b", 4), 0);

    CArgumentBytes bytes("\x00\x01", 2);
    const uint8_t* raw = bytes.ToBytes(&length);
    EXPECT_EQ(length, 2u);
    EXPECT_EQ(raw[1], 1);
}

TEST(ArgumentConversion, ObjectOfAClassIsFoundOnlyAlongItsParentChain)
{
    LogCapture log;
    ReflectedClass base("Base");
    ReflectedClass derived("Derived", &base);
    ReflectedClass unrelated("Unrelated");
    auto instance = MakeStrong<CBaseObject>();
    instance->SetReflectedClass(&derived);
    CArgumentObject value(instance);

    EXPECT_EQ(value.ToObject(&derived), instance.Get());
    EXPECT_EQ(value.ToObject(&base), instance.Get());
    EXPECT_EQ(value.ToObject(&unrelated), nullptr);
    EXPECT_TRUE(log.lines.empty());

    auto classless = MakeStrong<CBaseObject>();
    CArgumentObject classlessValue(classless);
    EXPECT_EQ(classlessValue.ToObject(&base), nullptr);
    EXPECT_TRUE(log.Contains(LOG_ERROR, "Expression: pInstanceClass"));

    CArgumentObject empty(nullptr);
    EXPECT_EQ(empty.ToObject(&base), nullptr);
    EXPECT_TRUE(log.Contains(LOG_ERROR, "Expression: pObject"));
}

TEST(ArgumentConversion, StreamIsFoundInStreamObjectsAndScriptStreamHolders)
{
    auto stream = MakeStrong<CUnlimitedStream>();
    auto holder = MakeStrong<CObjectValue<Strong<Stream>>>(Strong<Stream>(stream));
    auto other = MakeStrong<CBaseObject>();
    EXPECT_EQ(CArgumentObject(stream).ToStream(), stream.Get());
    EXPECT_EQ(CArgumentObject(holder).ToStream(), stream.Get());
    EXPECT_EQ(CArgumentObject(other).ToStream(), nullptr);
}

TEST(ArgumentArray, AddAppendsIndependentClonesAndUndefinedForValuesThatCannotBeCopied)
{
    CArgumentArray list;
    auto text = MakeStrong<CArgumentString>("before");
    list.Add(text);
    text->SetString("after");
    EXPECT_STREQ(list.GetAt(0)->ToString(), "before");
    EXPECT_EQ(text->GetRefCount(), 1);

    auto reserved = MakeStrong<CArgument>(ARGUMENT_TABLE);
    list.Add(reserved);
    EXPECT_EQ(list.GetAt(1)->GetType(), ARGUMENT_UNDEFINED);
    EXPECT_EQ(list.GetAt(2), nullptr);
}

TEST(ArgumentArray, AddAndOwnTakesOverTheReference)
{
    CArgumentArray list;
    auto value = MakeStrong<CArgumentInteger>(3);
    CArgument* raw = value;
    list.AddAndOwn(std::move(value));
    EXPECT_EQ(list.GetAt(0), raw);
    EXPECT_EQ(raw->GetRefCount(), 1);
    list.AddAndOwn(nullptr);
    EXPECT_EQ(list.GetAt(1)->GetType(), ARGUMENT_NIL);
}

TEST(ArgumentArray, MoveHandsElementsOverInOrderWithoutTouchingCounts)
{
    CArgumentArray source;
    source.AddNumber(int32_t(1));
    source.AddNumber(int32_t(2));
    CArgument* first = source.GetAt(0);

    CArgumentArray target;
    auto replaced = MakeStrong<CArgumentInteger>(9);
    target.Add(replaced);
    source.Move(target);

    EXPECT_EQ(source.GetArrayCount(), 0u);
    ASSERT_EQ(target.GetArrayCount(), 2u);
    EXPECT_EQ(target.GetAt(0), first);
    EXPECT_EQ(first->GetRefCount(), 1);
    int32_t second = 0;
    target.GetAt(1)->ToNumber(second);
    EXPECT_EQ(second, 2);
}

TEST(ArgumentArray, CloneAndInsertToCopyDeeply)
{
    struct Resolver : INetObjectResolver {
        CBaseObject* ResolveNetObject(int32_t) override { return nullptr; }
        int32_t GetNetObjectId(const CBaseObject*) override { return -1; }
    } resolver;

    CArgumentArray list(8);
    list.SetObjectContext(&resolver);
    auto inner = MakeStrong<CArgumentArray>();
    inner->AddString("inner");
    list.AddAndOwn(inner);
    list.AddBoolean(true);

    Strong<CArgument> clone = list.Clone();
    auto* copy = static_cast<CArgumentArray*>(clone.Get());
    EXPECT_EQ(copy->GetObjectContext(), &resolver);
    EXPECT_GE(copy->GetCapacity(), 8u);
    inner->AddNull();
    ASSERT_EQ(copy->GetArrayCount(), 2u);
    EXPECT_EQ(static_cast<CArgumentArray*>(copy->GetAt(0))->GetArrayCount(), 1u);
    EXPECT_NE(copy->GetAt(0), inner.Get());

    CArgumentArray target;
    target.AddNull();
    list.InsertTo(target);
    ASSERT_EQ(target.GetArrayCount(), 3u);
    EXPECT_TRUE(target.GetAt(2)->ToBoolean());
    EXPECT_NE(target.GetAt(1), inner.Get());

    list.InsertTo(list);
    EXPECT_EQ(list.GetArrayCount(), 4u);
}

TEST(ArgumentMap, SetReplacesAndReleasesButKeepsTheSameValueUnchanged)
{
    CArgumentMap map;
    auto first = MakeStrong<CArgumentInteger>(1);
    map.Set("key", first);
    EXPECT_EQ(first->GetRefCount(), 2);

    map.Set("key", first);
    EXPECT_EQ(first->GetRefCount(), 2);
    EXPECT_EQ(map.Get("key"), first.Get());

    auto second = MakeStrong<CArgumentInteger>(2);
    map.Set("key", second);
    EXPECT_EQ(first->GetRefCount(), 1);
    EXPECT_EQ(map.Get("key"), second.Get());
    EXPECT_EQ(map.GetMapCount(), 1u);

    EXPECT_TRUE(map.Remove("key"));
    EXPECT_EQ(second->GetRefCount(), 1);
    EXPECT_FALSE(map.Remove("key"));
    EXPECT_EQ(map.Get("key"), nullptr);
}

TEST(ArgumentMap, KeysMatchExactlyByteForByte)
{
    CArgumentMap map;
    map.Set("Key", MakeStrong<CArgumentInteger>(1));
    map.Set(std::string_view("a\0b", 3), MakeStrong<CArgumentInteger>(2));
    EXPECT_EQ(map.Get("key"), nullptr);
    EXPECT_NE(map.Get("Key"), nullptr);
    EXPECT_EQ(map.Get("a"), nullptr);
    EXPECT_NE(map.Get(std::string_view("a\0b", 3)), nullptr);
}

TEST(ArgumentMap, CloneCopiesEveryValueUnderACopyOfItsKey)
{
    CArgumentMap map;
    auto list = MakeStrong<CArgumentArray>();
    map.Set("list", list);
    map.Set("flag", MakeStrong<CArgumentBoolean>(true));
    Strong<CArgument> clone = map.Clone();
    auto* copy = static_cast<CArgumentMap*>(clone.Get());
    ASSERT_EQ(copy->GetMapCount(), 2u);
    EXPECT_NE(copy->Get("list"), list.Get());
    EXPECT_TRUE(copy->Get("list")->IsArray());
    EXPECT_TRUE(copy->Get("flag")->ToBoolean());

    map.Clear();
    EXPECT_EQ(map.GetMapCount(), 0u);
    EXPECT_EQ(list->GetRefCount(), 1);
}

TEST(ArgumentClone, SharedReferencesAreSharedAndPlainPayloadsCopied)
{
    auto object = MakeStrong<CBaseObject>();
    auto function = MakeStrong<CountingFunction>();
    CArgumentFunction functionValue(function);
    Strong<CArgument> functionCopy = functionValue.Clone();
    EXPECT_EQ(functionCopy->ToFunction(), function.Get());
    EXPECT_EQ(function->GetRefCount(), 3);

    CArgumentNetObject element(object, 12, nullptr);
    Strong<CArgument> elementCopy = element.Clone();
    EXPECT_EQ(elementCopy->ToObject(), object.Get());
    EXPECT_EQ(static_cast<CArgumentNetObject*>(elementCopy.Get())->GetId(), 12);

    CArgumentMatrix4x4 matrix;
    Strong<CArgument> matrixCopy = matrix.Clone();
    EXPECT_EQ(matrixCopy->GetType(), ARGUMENT_MATRIX4X4);
    CMatrix4x4 out;
    out[0] = 1;
    EXPECT_TRUE(matrixCopy->ToMatrix4x4(out));
    EXPECT_EQ(out, CMatrix4x4{});

    EXPECT_EQ(MakeStrong<CArgument>(ARGUMENT_UNDEFINED)->Clone()->GetType(), ARGUMENT_UNDEFINED);
}
