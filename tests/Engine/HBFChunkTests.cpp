#include "Engine/CorvaneHBF.h"
#include "Engine/Stream.h"

#include "Engine/HBFTestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Corvane3D;
using namespace HBFTest;

namespace {

// <config name="x"><Script src="a.js">one</Script><script src="b.js">two</script><other/></config>
std::unique_ptr<CElementChunk> SampleTree()
{
    auto root = std::make_unique<CElementChunk>("config");
    root->SetAttribute("name", "x");
    CElementChunk* first = root->AddElement("Script");
    first->SetAttribute("src", "a.js");
    first->SetText("one");
    CElementChunk* second = root->AddElement("script");
    second->SetAttribute("src", "b.js");
    second->SetText("two");
    root->AddElement("other");
    return root;
}

std::string Text(const char* text)
{
    return text ? std::string(text) : std::string("<null>");
}

// A chunk class for tests: records how many bytes of data it was shown and reads only the first.
class CProbeChunk : public CChunk {
public:
    static inline uint64_t s_shown = 0;
    bool ReadData(Stream* stream) override
    {
        s_shown = stream->GetRemaining();
        uint8_t first;
        return s_shown == 0 || stream->Read(&first, 1) == 1;
    }
};

} // namespace

TEST(HBFChunk, ElementTreeRoundTripsThroughPlainAndCompressedDocuments)
{
    for (eChunkCompression compression : {CHUNK_COMPRESSION_NONE, CHUNK_COMPRESSION_ZLIB}) {
        SCOPED_TRACE(int(compression));
        auto tree = SampleTree();
        tree->SetAttribute("count", MakeStrong<CArgumentInteger>(3));
        const std::string bytes = Saved(*tree, compression);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(bytes.substr(0, 4), std::string("HBF") + char(compression));

        std::string reason;
        auto loaded = Load(bytes, &reason);
        ASSERT_TRUE(loaded) << reason;
        EXPECT_EQ(loaded->GetName(), "config");
        EXPECT_EQ(loaded->GetParent(), nullptr);
        EXPECT_EQ(Text(loaded->Attribute("name")), "x");
        ASSERT_EQ(loaded->GetChildCount(), 3u);
        const std::vector<CElementChunk*> scripts = loaded->FindElements("SCRIPT");
        ASSERT_EQ(scripts.size(), 2u);
        EXPECT_EQ(Text(scripts[0]->Attribute("src")), "a.js");
        EXPECT_EQ(Text(scripts[0]->GetText()), "one");
        EXPECT_EQ(Text(scripts[1]->GetText()), "two");
        EXPECT_EQ(scripts[1]->GetIndex(), 1u);
        EXPECT_EQ(scripts[1]->GetParent(), loaded.get());
        EXPECT_EQ(scripts[1]->GetVersion(), 8u);
        const CArgument* count = loaded->GetAttributes()->Get("count");
        ASSERT_TRUE(count && count->GetType() == ARGUMENT_INTEGER);
        EXPECT_EQ(static_cast<const CArgumentInteger*>(count)->GetValue(), 3);
    }
}

TEST(HBFChunk, PlainDocumentHasTheDocumentedLayout)
{
    CElementChunk element("a");
    element.SetText("t");
    element.SetAttribute("k", "v");
    const std::string expected =
        Document(8, 0xFF, Body({{93, Record("a", ElementData("t", {{"k", "v"}}))}}));
    EXPECT_EQ(Saved(element), expected);
}

TEST(HBFChunk, VersionSevenAndSixDocumentsLoad)
{
    // Version 7 has no reserved field after the version.
    auto seven = Load(Document(7, 0xFF, Body({{93, Record("seven", ElementData("text"))}})));
    ASSERT_TRUE(seven);
    EXPECT_EQ(seven->GetName(), "seven");
    EXPECT_EQ(seven->GetVersion(), 7u);

    // Version 6 records: a header length (the name plus extra header bytes to skip), a total
    // (4 + data + extra bytes to skip) and a 16-bit child count.
    auto legacy = [](const std::string& name, const std::string& data, const std::string& children, uint16_t count) {
        Builder header;
        header.Text(name).Raw("HH");
        Builder b;
        b.U16(uint16_t(header.bytes.size())).Raw(header.bytes);
        b.U32(uint32_t(4 + data.size() + 3)).U32(uint32_t(data.size())).Raw(data).Raw("TTT");
        b.U16(count).Raw(children);
        return b.bytes;
    };
    const std::string inner = Builder().U32(93).Raw(legacy("inner", ElementData("deep"), "", 0)).bytes;
    const std::string element = Builder().U32(93).Raw(legacy("outer", ElementData("", {{"k", "v"}}), inner, 1)).bytes;
    const std::string body = Builder().U32(0).Raw(legacy("", "", element, 1)).bytes;
    std::string reason;
    auto six = Load(Document(6, 0xFF, body), &reason);
    ASSERT_TRUE(six) << reason;
    EXPECT_EQ(six->GetName(), "outer");
    EXPECT_EQ(Text(six->Attribute("k")), "v");
    EXPECT_EQ(Text(six->GetChildText("inner")), "deep");
}

TEST(HBFChunk, FindChunkMatchesNamesWithoutCaseAndIteratesFromTheNextIndex)
{
    auto tree = SampleTree();
    CChunk* first = tree->FindChunk(CHUNK_ELEMENT, 0, "SCRIPT");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->GetName(), "Script");
    CChunk* second = tree->FindChunk(CHUNK_ELEMENT, size_t(first->GetIndex()) + 1, "script");
    ASSERT_TRUE(second);
    EXPECT_EQ(second->GetName(), "script");
    EXPECT_EQ(tree->FindChunk(CHUNK_ELEMENT, size_t(second->GetIndex()) + 1, "script"), nullptr);
    EXPECT_EQ(tree->FindChunk(CHUNK_DATA, 0, "script"), nullptr);
    EXPECT_EQ(tree->FindChunk(CHUNK_ELEMENT, 0, "scrip"), nullptr);
    EXPECT_EQ(tree->FindChunk(CHUNK_ELEMENT, 2, "", false)->GetName(), "other");
    EXPECT_EQ(Text(tree->GetChildText("OTHER", "fallback")), "");
    EXPECT_EQ(Text(tree->GetChildText("missing", "fallback")), "fallback");
}

TEST(HBFChunk, AttributeMatchesExactNamesAndAnswersOnlyStrings)
{
    // The numeric attribute comes from a chunked document, where attributes may have any type.
    Builder data;
    data.Text("").VarUInt(2).U8(2).Text("Port").Text("7788").U8(4).Text("slots").I32(32);
    auto element = Load(Document(8, 0xFF, Body({{93, Record("server", data.bytes)}})));
    ASSERT_TRUE(element);
    size_t length = 0;
    EXPECT_EQ(Text(element->Attribute("Port", &length)), "7788");
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(element->Attribute("port"), nullptr);
    EXPECT_EQ(element->Attribute("slots"), nullptr);
    ASSERT_TRUE(element->GetAttributes()->Get("slots"));
    EXPECT_TRUE(element->GetAttributes()->Get("slots")->IsNumber());
}

TEST(HBFChunk, DocumentsThatHoldNoLeadingElementLoadNothing)
{
    const std::string element = Record("e", ElementData("x"));
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty file", ""},
        {"version 9 is read as XML text", Document(9, 0xFF, Body({{93, element}}))},
        {"compression byte other than Z and 0xFF is read as XML text", Document(8, 'A', Body({{93, element}}))},
        {"first chunk of another type, even with an element after it", Document(8, 0xFF, Body({{1, Record("d", "raw")}, {93, element}}))},
        {"root without children", Document(8, 0xFF, Body({}))},
        {"header only", "HBF\xFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string reason;
        EXPECT_FALSE(Load(c.bytes, &reason));
        EXPECT_FALSE(reason.empty());
    }
}

TEST(HBFChunk, UnregisteredChunkHoldsItsBytesAndItsChildrenAreRead)
{
    const std::string unknown = Record("blob", "raw!", {{93, Record("inside", ElementData("kept"))}});
    auto element = Load(Document(8, 0xFF, Body({{93, Record("top", ElementData(""), {{4242, unknown}})}})));
    ASSERT_TRUE(element);
    auto* data = dynamic_cast<CDataChunk*>(element->GetChild(0));
    ASSERT_TRUE(data);
    EXPECT_EQ(data->GetType(), 4242u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data->GetData()), data->GetSize()), "raw!");
    ASSERT_EQ(data->GetChildCount(), 1u);
    auto* inside = dynamic_cast<CElementChunk*>(data->GetChild(0));
    ASSERT_TRUE(inside);
    EXPECT_EQ(Text(inside->GetText()), "kept");
}

TEST(HBFChunk, ChunkClassSeesOnlyItsOwnBlockAndReadingGoesOnAfterIt)
{
    CChunkTypes::RegisterCustomChunk(70000, [] { return std::unique_ptr<CChunk>(std::make_unique<CProbeChunk>()); });
    auto element = Load(Document(
        8, 0xFF,
        Body({{93, Record("top", ElementData(""), {{70000, Record("probe", "12345")}, {93, Record("after", ElementData("ok"))}})}})));
    CChunkTypes::RegisterCustomChunk(70000, nullptr);
    ASSERT_TRUE(element);
    EXPECT_EQ(CProbeChunk::s_shown, 5u);
    EXPECT_TRUE(dynamic_cast<CProbeChunk*>(element->GetChild(0)));
    EXPECT_EQ(Text(element->GetChildText("after")), "ok");
}

TEST(HBFChunk, RegistryMakesRegisteredClassesForSmallAndLargeIdsAndRawDataOtherwise)
{
    const ChunkFactory history = [] { return std::unique_ptr<CChunk>(std::make_unique<CHistoryChunk>()); };
    for (uint32_t id : {200u, 0xFFFFFFF0u}) {
        SCOPED_TRACE(id);
        CChunkTypes::RegisterCustomChunk(id, history);
        auto made = CChunkTypes::_Create(id);
        EXPECT_TRUE(dynamic_cast<CHistoryChunk*>(made.get()));
        EXPECT_EQ(made->GetType(), id);
        CChunkTypes::RegisterCustomChunk(id, nullptr);
        auto raw = CChunkTypes::_Create(id);
        EXPECT_TRUE(dynamic_cast<CDataChunk*>(raw.get()));
        EXPECT_EQ(raw->GetType(), id);
    }
    // A factory that gives nothing also yields raw data.
    CChunkTypes::RegisterCustomChunk(201, [] { return std::unique_ptr<CChunk>(); });
    EXPECT_TRUE(dynamic_cast<CDataChunk*>(CChunkTypes::_Create(201).get()));
    CChunkTypes::RegisterCustomChunk(201, nullptr);

    EXPECT_TRUE(dynamic_cast<CElementChunk*>(CChunkTypes::_Create(CHUNK_ELEMENT).get()));
    EXPECT_TRUE(dynamic_cast<CImageDataChunk*>(CChunkTypes::_Create(CHUNK_IMAGEDATA).get()));
    EXPECT_TRUE(dynamic_cast<CTextureChunk*>(CChunkTypes::_Create(CHUNK_TEXTURE).get()));
}

TEST(HBFChunk, BuiltInChunkClassesReadTheirDataBlocks)
{
    const std::string texture = Builder().U16(64).U16(32).U32(1).U32(2).U32(3).bytes;
    auto element = Load(Document(8, 0xFF,
                                 Body({{93, Record("top", ElementData(""),
                                                   {{21, Record("h", "saved by hand")},
                                                    {72, Record("t", texture)},
                                                    {72, Record("empty", "")},
                                                    {5, Record("i", "\x89PNG")},
                                                    {93, Record("bare", "")}})}})));
    ASSERT_TRUE(element);
    EXPECT_EQ(static_cast<CHistoryChunk*>(element->GetChild(0))->GetText(), "saved by hand");
    auto* full = static_cast<CTextureChunk*>(element->GetChild(1));
    EXPECT_EQ(full->GetWidth(), 64);
    EXPECT_EQ(full->GetHeight(), 32);
    EXPECT_EQ(full->GetParameter(2), 3u);
    auto* empty = static_cast<CTextureChunk*>(element->GetChild(2));
    EXPECT_EQ(empty->GetWidth(), 0);
    EXPECT_EQ(empty->GetParameter(0), 0u);
    EXPECT_EQ(static_cast<CImageDataChunk*>(element->GetChild(3))->GetSize(), 4u);
    // An element whose data block is empty has no text and no attributes.
    CElementChunk* bare = element->FindElement("bare");
    ASSERT_TRUE(bare);
    EXPECT_EQ(Text(bare->GetText()), "");
    EXPECT_EQ(bare->GetAttributes()->GetMapCount(), 0u);

    // A texture block too short for its five values fails the record.
    EXPECT_FALSE(Load(Document(8, 0xFF, Body({{93, Record("top", ElementData(""), {{72, Record("t", "abc")}})}}))));
}

TEST(HBFChunk, OrphanDetachesAndLaterSiblingsMoveUp)
{
    auto tree = SampleTree();
    CChunk* first = tree->GetChild(0);
    std::unique_ptr<CChunk> taken = first->Orphan();
    ASSERT_EQ(taken.get(), first);
    EXPECT_EQ(taken->GetParent(), nullptr);
    EXPECT_EQ(taken->GetIndex(), 0u);
    EXPECT_EQ(taken->Orphan(), nullptr);
    ASSERT_EQ(tree->GetChildCount(), 2u);
    // Iterating from a found child's index + 1 must not skip the sibling that moved up.
    CElementChunk* script = tree->FindElement("script");
    ASSERT_TRUE(script);
    EXPECT_EQ(script->GetIndex(), 0u);
    EXPECT_EQ(tree->FindElement("other", size_t(script->GetIndex()) + 1), tree->GetChild(1));

    EXPECT_EQ(tree->AddChild(std::move(taken))->GetIndex(), 2u);
}

TEST(HBFChunk, NestingUpToTheLimitLoadsAndDeeperIsRefused)
{
    // Each level is one element record with one child, so the levels nest by concatenation.
    auto nested = [](unsigned levels) {
        Builder b;
        b.U32(0).Text("").U32(0).U32(1); // the root chunk
        for (unsigned i = 1; i < levels; ++i)
            b.U32(93).Text("n").U32(0).U32(1);
        b.U32(93).Raw(Record("leaf", ElementData("bottom")));
        return Document(8, 0xFF, b.bytes);
    };
    std::string reason;
    auto deepest = Load(nested(MaxChunkDepth), &reason);
    ASSERT_TRUE(deepest) << reason;
    const CChunk* leaf = deepest.get();
    unsigned levels = 1;
    while (leaf->GetChildCount()) {
        leaf = leaf->GetChild(0);
        ++levels;
    }
    EXPECT_EQ(levels, MaxChunkDepth);

    // A hostile document nests until the stack runs out; the reader stops at the limit.
    for (unsigned levels : {MaxChunkDepth + 1, 100000u}) {
        EXPECT_FALSE(Load(nested(levels), &reason));
        EXPECT_NE(reason.find("nested deeper"), std::string::npos) << reason;
    }

    // The writer refuses what the reader would refuse.
    CElementChunk root("n");
    CElementChunk* tip = &root;
    for (unsigned i = 1; i < MaxChunkDepth; ++i)
        tip = tip->AddElement("n");
    EXPECT_FALSE(Saved(root).empty());
    tip->AddElement("n");
    EXPECT_TRUE(Saved(root).empty());
}

TEST(HBFChunk, EveryTruncationOfAValidDocumentFailsCleanly)
{
    for (eChunkCompression compression : {CHUNK_COMPRESSION_NONE, CHUNK_COMPRESSION_ZLIB}) {
        const std::string bytes = Saved(*SampleTree(), compression);
        ASSERT_TRUE(Load(bytes));
        for (size_t length = 0; length < bytes.size(); ++length) {
            SCOPED_TRACE(length);
            EXPECT_FALSE(Load(bytes.substr(0, length)));
        }
    }
}

TEST(HBFChunk, HostileChunkedDocumentsFailWithAReason)
{
    const std::string element = Record("e", ElementData("x"));
    const std::string body = Body({{93, element}});
    std::string badZlib = Compressed(body);
    badZlib[14] = char(badZlib[14] ^ 0x55);
    const std::string packed = Compressed(body).substr(12);
    auto withSize = [&](uint32_t declared) {
        return Builder().U32(declared).U32(uint32_t(packed.size())).I32(0).Raw(packed).bytes;
    };
    struct Case {
        const char* hazard;
        std::string bytes;
        const char* reason;
    } cases[] = {
        // A data size larger than the file must not be allocated or read past the end.
        {"data size past the end", Document(8, 0xFF, Builder().U32(0).Text("").U32(0xFFFFFFF0).bytes), "runs past the end"},
        // A child count of four billion must not make the reader loop or reserve.
        {"huge child count", Document(8, 0xFF, Builder().U32(0).Text("").U32(0).U32(0xFFFFFFFF).bytes), "claims"},
        // A name count is checked before the name is allocated.
        {"huge name", Document(8, 0xFF, Builder().U32(0).VarUInt(0x7FFFFFFF).bytes), "longer than"},
        {"name past the end", Document(8, 0xFF, Builder().U32(0).VarUInt(100).Raw("ab").bytes), "truncated chunk name"},
        // A declared uncompressed size is checked before the buffer is allocated.
        {"huge uncompressed size", Document(8, 'Z', withSize(0xFFFFFFFF)), "cannot inflate"},
        {"compressed size past the end", Document(8, 'Z', Builder().U32(10).U32(1000).I32(0).Raw("xx").bytes), "runs past the end"},
        // A body that does not inflate, or inflates to another size, is not read as records.
        {"damaged zlib stream", Document(8, 'Z', badZlib), "does not inflate"},
        {"inflates to less than declared", Document(8, 'Z', withSize(uint32_t(body.size() + 10))), "does not inflate"},
        {"inflates to more than declared", Document(8, 'Z', withSize(uint32_t(body.size() - 1))), "does not inflate"},
        // The version 6 header length is reduced by the name; it must not wrap around.
        {"header shorter than its name", Document(6, 0xFF, Builder().U32(0).U16(1).Text("long name").bytes), "shorter than its name"},
        // The version 6 total is reduced by 4 and by the data size; neither may wrap around.
        {"total below four", Document(6, 0xFF, Builder().U32(0).U16(1).Text("").U32(2).U32(0).bytes), "total size"},
        {"total below the data size", Document(6, 0xFF, Builder().U32(0).U16(1).Text("").U32(6).U32(3).Raw("abc").bytes), "total size"},
        {"element block with a text past the block",
         Document(8, 0xFF, Body({{93, Record("e", Builder().VarUInt(50).Raw("abc").bytes)}})), "could not be read"},
        {"truncated compression header", Document(8, 'Z', Builder().U32(1).bytes), "truncated compression header"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hazard);
        std::string reason;
        EXPECT_FALSE(Load(c.bytes, &reason));
        EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
    }
}

TEST(HBFChunk, RootChunkWritesADocumentWhoseFirstChildIsAnyChunk)
{
    CRootChunk root;
    auto data = std::make_unique<CDataChunk>();
    data->SetData("xy", 2);
    root.AddChild(std::move(data));
    root.AddChild(std::make_unique<CElementChunk>("second"));
    auto stream = MakeStrong<CUnlimitedStream>();
    ASSERT_TRUE(root.Save(stream, CHUNK_COMPRESSION_ZLIB));
    std::string reason;
    EXPECT_FALSE(Load(std::string(reinterpret_cast<const char*>(stream->GetData()), stream->GetLength()), &reason));
    EXPECT_NE(reason.find("type 1"), std::string::npos) << reason;
}
