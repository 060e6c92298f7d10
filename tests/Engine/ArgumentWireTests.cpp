#include "Engine/ArgumentTestSupport.h"

#include "Engine/CorvaneArguments.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

using namespace Corvane3D;
using namespace ArgumentTest;

namespace {

struct RoundTripCase {
    const char* what;
    std::function<Strong<CArgument>()> make;
    Bytes payload;
};

Strong<CArgument> MakeArray(std::initializer_list<Strong<CArgument>> elements)
{
    auto array = MakeStrong<CArgumentArray>();
    for (const Strong<CArgument>& element : elements)
        array->AddAndOwn(element);
    return array;
}

Strong<CArgument> MakeMap(std::initializer_list<std::pair<const char*, Strong<CArgument>>> entries)
{
    auto map = MakeStrong<CArgumentMap>();
    for (const auto& [key, value] : entries)
        map->Set(key, value);
    return map;
}

CMatrix4x4 CountingMatrix()
{
    CMatrix4x4 matrix;
    for (int i = 0; i < 16; ++i)
        matrix[i] = float(i);
    return matrix;
}

Bytes Payload(const CArgument& value)
{
    bool ok = false;
    Bytes bytes = WritePayload(value, ok);
    EXPECT_TRUE(ok);
    return bytes;
}

// A list nested `levels` deep: [[[...[]...]]].
Strong<CArgumentArray> NestedArrays(unsigned levels)
{
    auto outer = MakeStrong<CArgumentArray>();
    CArgumentArray* current = outer;
    for (unsigned i = 1; i < levels; ++i) {
        auto inner = MakeStrong<CArgumentArray>();
        CArgumentArray* next = inner;
        current->AddAndOwn(std::move(inner));
        current = next;
    }
    return outer;
}

// The wire form of `levels` lists nested in each other, innermost empty.
Bytes NestedArrayBlob(unsigned levels, uint8_t containerType = ARGUMENT_ARRAY)
{
    Bytes blob;
    for (unsigned i = 1; i < levels; ++i) {
        if (containerType == ARGUMENT_ARRAY)
            blob.insert(blob.end(), {0x01, ARGUMENT_ARRAY});
        else
            blob.insert(blob.end(), {0x01, ARGUMENT_MAP, 0x00});
    }
    blob.push_back(0x00);
    return blob;
}

// Stands in for the net object manager.
struct FakeResolver : INetObjectResolver {
    CBaseObject* ResolveNetObject(int32_t id) override { return id == registeredId ? registered : nullptr; }
    int32_t GetNetObjectId(const CBaseObject* object) override { return object == registered ? registeredId : -1; }
    CBaseObject* registered = nullptr;
    int32_t registeredId = 5;
};

struct ScriptRefProbe final : CArgumentLuaRef {
    Strong<CArgument> Clone() const override { return MakeStrong<ScriptRefProbe>(); }
};

} // namespace

TEST(ArgumentWire, EveryReadableTypeRoundTripsWithItsExactPayload)
{
    const Bytes twoHundredAs(200, 'a');
    const RoundTripCase cases[] = {
        {"null", [] { return MakeStrong<CArgument>(ARGUMENT_NIL); }, {}},
        {"undefined", [] { return MakeStrong<CArgument>(ARGUMENT_UNDEFINED); }, {}},
        {"true", [] { return MakeStrong<CArgumentBoolean>(true); }, {0x01}},
        {"false", [] { return MakeStrong<CArgumentBoolean>(false); }, {0x00}},
        {"string", [] { return MakeStrong<CArgumentString>("ab"); }, {0x02, 0x61, 0x62}},
        {"empty string", [] { return MakeStrong<CArgumentString>(); }, {0x00}},
        {"string holding NUL", [] { return MakeStrong<CArgumentString>("a\0b", 3); }, {0x03, 0x61, 0x00, 0x62}},
        {"string with a two-byte count",
         [&] { return MakeStrong<CArgumentString>(std::string(200, 'a').c_str()); },
         Concat({{0xC8, 0x01}, twoHundredAs})},
        {"integer", [] { return MakeStrong<CArgumentInteger>(-2); }, {0xFE, 0xFF, 0xFF, 0xFF}},
        {"float", [] { return MakeStrong<CArgumentFloat>(1.5f); }, {0x00, 0x00, 0xC0, 0x3F}},
        {"long integer", [] { return MakeStrong<CArgumentLongInteger>(0x0102030405060708); },
         {0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01}},
        {"double", [] { return MakeStrong<CArgumentDouble>(1.0); }, {0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
        {"Vector2D", [] { return MakeStrong<CArgumentVector2D>(CVector2D{1, 2}); },
         Concat({RawBytes(1.0f), RawBytes(2.0f)})},
        {"Vector3D", [] { return MakeStrong<CArgumentVector3D>(CVector3D{1, 2, 3}); },
         Concat({RawBytes(1.0f), RawBytes(2.0f), RawBytes(3.0f)})},
        {"Matrix4x4 in storage order", [] { return MakeStrong<CArgumentMatrix4x4>(CountingMatrix()); },
         RawBytes(CountingMatrix().m)},
        {"function", [] { return MakeStrong<CArgumentFunction>(); }, {}},
        {"bytes", [] { return MakeStrong<CArgumentBytes>("\x00\xFF\x07", 3); }, {0x03, 0x00, 0xFF, 0x07}},
        {"empty bytes", [] { return MakeStrong<CArgumentBytes>(); }, {0x00}},
        {"array of 1 and \"ab\"",
         [] { return MakeArray({MakeStrong<CArgumentInteger>(1), MakeStrong<CArgumentString>("ab")}); },
         {0x02, 0x04, 0x01, 0x00, 0x00, 0x00, 0x02, 0x02, 0x61, 0x62}},
        {"empty array", [] { return MakeStrong<CArgumentArray>(); }, {0x00}},
        {"function inside an array", [] { return MakeArray({MakeStrong<CArgumentFunction>()}); }, {0x01, 0x13}},
        {"map of x to true", [] { return MakeMap({{"x", MakeStrong<CArgumentBoolean>(true)}}); },
         {0x01, 0x01, 0x01, 0x78, 0x01}},
        {"empty map", [] { return MakeStrong<CArgumentMap>(); }, {0x00}},
        {"containers inside containers",
         [] {
             return MakeArray({MakeStrong<CArgumentArray>(),
                               MakeMap({{"", MakeArray({MakeStrong<CArgument>(ARGUMENT_UNDEFINED)})}})});
         },
         {0x02, 0x11, 0x00, 0x12, 0x01, 0x11, 0x00, 0x01, 0x0C}},
    };
    for (const RoundTripCase& c : cases) {
        SCOPED_TRACE(c.what);
        Strong<CArgument> value = c.make();
        size_t size = 0;
        ASSERT_TRUE(value->GetSize(size));
        EXPECT_EQ(size, c.payload.size());
        EXPECT_EQ(Payload(*value), c.payload);

        Strong<CArgument> copy = CArgument::Create(value->GetType());
        ASSERT_TRUE(copy);
        uint64_t remaining = 1;
        ASSERT_TRUE(ReadPayload(*copy, c.payload, &remaining));
        EXPECT_EQ(remaining, 0u);
        EXPECT_EQ(Payload(*copy), c.payload);

        // The same value as the element of a list: its type byte goes in front.
        auto list = MakeArray({value});
        const Bytes listBlob = Concat({{0x01, value->GetType()}, c.payload});
        EXPECT_EQ(Payload(*list), listBlob);
        CArgumentArray readList;
        ASSERT_TRUE(ReadPayload(readList, listBlob));
        ASSERT_EQ(readList.GetArrayCount(), 1u);
        EXPECT_EQ(readList.GetAt(0)->GetType(), value->GetType());
    }
}

TEST(ArgumentWire, MapWithSeveralEntriesReadsBackUnderTheSameKeys)
{
    auto map = MakeMap({{"one", MakeStrong<CArgumentInteger>(1)},
                        {"two", MakeStrong<CArgumentString>("2")},
                        {"list", MakeArray({MakeStrong<CArgumentDouble>(3.0)})}});
    CArgumentMap copy;
    ASSERT_TRUE(ReadPayload(copy, Payload(*map)));
    ASSERT_EQ(copy.GetMapCount(), 3u);
    int32_t one = 0;
    ASSERT_TRUE(copy.Get("one")->ToNumber(one));
    EXPECT_EQ(one, 1);
    EXPECT_STREQ(copy.Get("two")->ToString(), "2");
    ASSERT_TRUE(copy.Get("list")->IsArray());
    EXPECT_EQ(static_cast<CArgumentArray*>(copy.Get("list"))->GetArrayCount(), 1u);
}

TEST(ArgumentWire, BooleanReadsAnyNonZeroByteAsTrueAndWritesOne)
{
    CArgumentBoolean value;
    ASSERT_TRUE(ReadPayload(value, {0x7F}));
    EXPECT_TRUE(value.GetValue());
    EXPECT_EQ(Payload(value), Bytes{0x01});
}

TEST(ArgumentWire, ElementValueWritesTheIdOfItsElementAndResolvesIdsThroughItsContext)
{
    FakeResolver resolver;
    auto element = MakeStrong<CBaseObject>();
    resolver.registered = element;

    CArgumentNetObject value(nullptr, -1, &resolver);
    ASSERT_TRUE(ReadPayload(value, {0x05, 0x00, 0x00, 0x00}));
    EXPECT_EQ(value.GetId(), 5);
    EXPECT_EQ(value.ToObject(), element.Get());
    EXPECT_EQ(element->GetRefCount(), 2);

    // The manager may have given the element a new id since.
    resolver.registeredId = 9;
    EXPECT_EQ(Payload(value), (Bytes{0x09, 0x00, 0x00, 0x00}));

    // An id that resolves to nothing drops the element it held.
    ASSERT_TRUE(ReadPayload(value, {0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(value.ToObject(), nullptr);
    EXPECT_EQ(element->GetRefCount(), 1);
    EXPECT_EQ(Payload(value), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));

    CArgumentNetObject withoutContext(nullptr, 7, nullptr);
    EXPECT_EQ(Payload(withoutContext), (Bytes{0x07, 0x00, 0x00, 0x00}));
    EXPECT_FALSE(ReadPayload(withoutContext, {0x01, 0x02}));
}

TEST(ArgumentWire, ScriptReferencesHaveAnEmptyPayload)
{
    ScriptRefProbe reference;
    size_t size = 1;
    EXPECT_TRUE(reference.GetSize(size));
    EXPECT_EQ(size, 0u);
    auto list = MakeArray({MakeStrong<ScriptRefProbe>()});
    EXPECT_EQ(Payload(*list), (Bytes{0x01, ARGUMENT_LUAREF}));
}

// Hazard: a value without a wire form written as a bare type byte, corrupting what follows.
TEST(ArgumentWire, ContainersHoldingAnInstanceAreRefusedAndWriteNothing)
{
    auto object = MakeStrong<CBaseObject>();
    Strong<CArgument> containers[] = {
        MakeArray({MakeStrong<CArgumentInteger>(1), CArgument::Create(object)}),
        MakeMap({{"k", CArgument::Create(object)}}),
        MakeArray({MakeMap({{"deep", MakeArray({CArgument::Create(object)})}})}),
    };
    for (const Strong<CArgument>& container : containers) {
        size_t size = 0;
        EXPECT_FALSE(container->GetSize(size));
        bool ok = true;
        EXPECT_TRUE(WritePayload(*container, ok).empty());
        EXPECT_FALSE(ok);
    }
    CArgumentObject instance(object);
    size_t size = 0;
    EXPECT_FALSE(instance.GetSize(size));
    EXPECT_FALSE(ReadPayload(instance, {0x00, 0x00, 0x00, 0x00}));
}

// Hazard: a one-byte count written for a longer list, so the reader misparses everything after.
TEST(ArgumentWire, ListsLongerThanTheOneByteCountAreRefusedNotMiscounted)
{
    CArgumentArray full;
    for (int i = 0; i < 255; ++i)
        full.AddNull();
    const Bytes blob = Payload(full);
    ASSERT_EQ(blob.size(), 1u + 255u);
    EXPECT_EQ(blob[0], 0xFF);
    CArgumentArray readBack;
    ASSERT_TRUE(ReadPayload(readBack, blob));
    EXPECT_EQ(readBack.GetArrayCount(), 255u);

    full.AddNull();
    size_t size = 0;
    EXPECT_FALSE(full.GetSize(size));
    bool ok = true;
    EXPECT_TRUE(WritePayload(full, ok).empty());
    EXPECT_FALSE(ok);
}

// Hazard: unbounded recursion on nested or self-holding containers exhausting the stack.
TEST(ArgumentWire, NestingIsLimitedWhenReadingWritingAndMeasuring)
{
    CArgumentArray deepest;
    ASSERT_TRUE(ReadPayload(deepest, NestedArrayBlob(MaxArgumentDepth)));
    CArgumentMap deepestMap;
    ASSERT_TRUE(ReadPayload(deepestMap, NestedArrayBlob(MaxArgumentDepth, ARGUMENT_MAP)));

    size_t size = 0;
    EXPECT_TRUE(NestedArrays(MaxArgumentDepth)->GetSize(size));
    EXPECT_EQ(Payload(*NestedArrays(MaxArgumentDepth)), NestedArrayBlob(MaxArgumentDepth));

    Strong<CArgumentArray> tooDeep = NestedArrays(MaxArgumentDepth + 1);
    EXPECT_FALSE(tooDeep->GetSize(size));
    bool ok = true;
    EXPECT_TRUE(WritePayload(*tooDeep, ok).empty());
    EXPECT_FALSE(ok);
    EXPECT_FALSE(tooDeep->Clone());

    auto selfHolding = MakeStrong<CArgumentArray>();
    selfHolding->AddAndOwn(Strong<CArgument>(selfHolding));
    EXPECT_FALSE(selfHolding->GetSize(size));
    EXPECT_TRUE(WritePayload(*selfHolding, ok).empty());
    EXPECT_FALSE(selfHolding->Clone());
    selfHolding->Clear(); // breaks the cycle
}

TEST(ArgumentWire, ReadingAnElementTypeFromTheWireFailsWithAWarning)
{
    LogCapture log;
    CArgumentArray list;
    EXPECT_FALSE(ReadPayload(list, {0x01, ARGUMENT_NETOBJECT, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(log.Contains(LOG_WARN, "CArgument::Create(ARGUMENT_NETOBJECT) - Failed. (Argument 1 of 1)"));

    CArgumentMap map;
    EXPECT_FALSE(ReadPayload(map, {0x01, ARGUMENT_NETOBJECT, 0x01, 'k', 0x01, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(log.Contains(LOG_WARN, "CArgument::Create(ARGUMENT_NETOBJECT) - Failed"));
}

TEST(ArgumentWire, ElementThatFailsToReadIsNamedInTheWarningAndEarlierElementsStay)
{
    LogCapture log;
    CArgumentArray list;
    EXPECT_FALSE(ReadPayload(list, {0x03, ARGUMENT_BOOLEAN, 0x01, ARGUMENT_INTEGER, 0x01, 0x02}));
    EXPECT_TRUE(log.Contains(LOG_WARN, "CArgument::Create(ARGUMENT_INTEGER)->Read(pStream) - Failed. (Argument 2 of 3)"));
    ASSERT_EQ(list.GetArrayCount(), 1u);
    EXPECT_TRUE(list.GetAt(0)->ToBoolean());
}

TEST(ArgumentWire, EmptyInputReadsAsAnEmptyContainer)
{
    CArgumentArray list;
    list.AddNull();
    EXPECT_TRUE(ReadPayload(list, {}));
    EXPECT_EQ(list.GetArrayCount(), 0u);
    CArgumentMap map;
    EXPECT_TRUE(ReadPayload(map, {}));
}

TEST(ArgumentWire, FailedStringReadKeepsTheOldTextButFailedBytesReadDiscardsTheOldData)
{
    CArgumentString text("kept");
    EXPECT_FALSE(ReadPayload(text, {0x05, 'a', 'b'}));
    EXPECT_STREQ(text.GetString(), "kept");

    CArgumentBytes bytes("old", 3);
    EXPECT_FALSE(ReadPayload(bytes, {0x05, 'a', 'b'}));
    EXPECT_EQ(bytes.GetLength(), 0u);
    EXPECT_EQ(bytes.GetData(), nullptr);
}

TEST(ArgumentWire, MalformedBlobsFailCleanly)
{
    LogCapture log; // keeps the warnings of the failing reads off the console
    struct MalformedCase {
        const char* what;
        uint8_t container;
        Bytes blob;
    };
    std::vector<MalformedCase> cases = {
        {"list count beyond the input", ARGUMENT_ARRAY, {0xFF, 0x00, 0x00}},
        {"map count beyond the input", ARGUMENT_MAP, {0xFF, 0xFF, 0xFF, 0xFF, 0x07, 0x00, 0x00}},
        {"map count with bit 31", ARGUMENT_MAP, {0x80, 0x80, 0x80, 0x80, 0x08, 0x00, 0x00}},
        {"map count of five continuation bytes", ARGUMENT_MAP, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}},
        {"string count beyond the input", ARGUMENT_ARRAY, {0x01, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0x07, 0x61}},
        {"string count with bit 31", ARGUMENT_ARRAY, {0x01, 0x02, 0x80, 0x80, 0x80, 0x80, 0x08, 0x61}},
        {"string count of five continuation bytes", ARGUMENT_ARRAY, {0x01, 0x02, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01}},
        {"bytes count beyond the input", ARGUMENT_ARRAY, {0x01, 0x15, 0xFF, 0xFF, 0xFF, 0xFF, 0x07, 0x61}},
        {"bytes count with bit 31", ARGUMENT_ARRAY, {0x01, 0x15, 0x80, 0x80, 0x80, 0x80, 0x08, 0x61}},
        {"map key count beyond the input", ARGUMENT_MAP, {0x01, 0x00, 0x7F, 0x61}},
        {"nested list count beyond the input", ARGUMENT_ARRAY, {0x01, 0x11, 0xFE, 0x00}},
        // Hazard: a cut-off nested container passing as an empty one.
        {"nested list without its count", ARGUMENT_ARRAY, {0x01, 0x11}},
        {"nested map without its count", ARGUMENT_ARRAY, {0x01, 0x12}},
        {"lists nested one level too deep", ARGUMENT_ARRAY, NestedArrayBlob(MaxArgumentDepth + 1)},
        {"maps nested one level too deep", ARGUMENT_MAP, NestedArrayBlob(MaxArgumentDepth + 1, ARGUMENT_MAP)},
        {"lists nested ten thousand deep", ARGUMENT_ARRAY, NestedArrayBlob(10000)},
    };
    for (uint8_t type : std::initializer_list<uint8_t>{ARGUMENT_TABLE, ARGUMENT_NETOBJECT, ARGUMENT_OBJECT, ARGUMENT_VECTOR4D, ARGUMENT_LUAREF,
                         ARGUMENT_JSVALUE, ARGUMENT_SQREF, uint8_t(22), uint8_t(0xFF)}) {
        cases.push_back({"type that cannot be read", ARGUMENT_ARRAY, {0x01, type, 0x00, 0x00, 0x00, 0x00}});
        cases.push_back({"type that cannot be read, in a map", ARGUMENT_MAP, {0x01, type, 0x00, 0x00, 0x00, 0x00}});
    }

    // Every truncation of valid blobs that hold every readable type.
    CArgumentArray everything;
    everything.AddNull();
    everything.AddUndefined();
    everything.AddBoolean(true);
    everything.AddString("text");
    everything.AddNumber(int32_t(7));
    everything.AddNumber(1.5f);
    everything.AddNumber(int64_t(-9));
    everything.AddNumber(2.5);
    everything.AddVector2D({1, 2});
    everything.AddVector3D({1, 2, 3});
    everything.AddMatrix4x4(CountingMatrix());
    everything.AddBytes("\x01\x02", 2);
    everything.AddAndOwn(MakeStrong<CArgumentFunction>());
    everything.AddAndOwn(MakeMap({{"inner", MakeArray({MakeStrong<CArgumentString>("x")})}}));
    everything.AddAndOwn(MakeStrong<CArgumentArray>());
    everything.AddNull();
    auto entries = MakeMap({{"list", MakeArray({MakeStrong<CArgumentInteger>(1), MakeStrong<CArgumentMap>()})},
                            {"name", MakeStrong<CArgumentString>("abc")},
                            {"none", MakeStrong<CArgument>(ARGUMENT_NIL)}});
    const std::pair<uint8_t, Bytes> validBlobs[] = {{ARGUMENT_ARRAY, Payload(everything)},
                                                    {ARGUMENT_MAP, Payload(*entries)}};
    for (const auto& [container, blob] : validBlobs) {
        for (size_t length = 1; length < blob.size(); ++length)
            cases.push_back({"truncated valid blob", container, Bytes(blob.begin(), blob.begin() + length)});
    }

    for (const MalformedCase& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", " + std::to_string(c.blob.size()) + " bytes");
        Strong<CArgument> value = CArgument::Create(c.container);
        EXPECT_FALSE(ReadPayload(*value, c.blob));
    }
}
