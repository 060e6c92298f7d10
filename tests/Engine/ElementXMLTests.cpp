#include "Engine/CorvaneHBF.h"
#include "Engine/Stream.h"

#include "../../src/Engine/ElementXML.h"

#include "Engine/HBFTestSupport.h"
#include "Engine/TestFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace Corvane3D;
using namespace HBFTest;

namespace {

std::string Text(const char* text)
{
    return text ? std::string(text) : std::string("<null>");
}

// `levels` nested elements, with `inner` inside the innermost.
std::string Nested(unsigned levels, const std::string& inner = "")
{
    std::string text;
    for (unsigned i = 0; i < levels; ++i)
        text += "<n>";
    text += inner;
    for (unsigned i = 0; i < levels; ++i)
        text += "</n>";
    return text;
}

unsigned Depth(const CChunk& chunk)
{
    unsigned deepest = 0;
    for (size_t i = 0; i < chunk.GetChildCount(); ++i)
        deepest = std::max(deepest, Depth(*chunk.GetChild(i)));
    return deepest + 1;
}

} // namespace

TEST(ElementXML, DocumentWithDeclarationCommentsAttributesEntitiesAndNestingLoads)
{
    const std::string xml = R"(<?xml version="1.0" encoding="UTF-8"?>
<!-- settings of the server -->
<server>
    <!-- the name players see -->
    <servername>Tom &amp; Jerry&apos;s &lt;place&gt;</servername>
    <port>22000</port>
    <resource src="chat" />
    <RESOURCE src="spawn" enabled="true" note="say &quot;hi&quot; &#65;&#x42;"/>
    <module src="m"><option key="k">v</option></module>
</server>
)";
    std::string reason;
    auto server = Load(xml, &reason);
    ASSERT_TRUE(server) << reason;
    EXPECT_EQ(server->GetName(), "server");
    EXPECT_EQ(server->GetParent(), nullptr);
    EXPECT_EQ(server->GetChildCount(), 5u);
    EXPECT_EQ(Text(server->GetChildText("servername")), "Tom & Jerry's <place>");
    EXPECT_EQ(Text(server->GetChildText("Port")), "22000");

    const std::vector<CElementChunk*> resources = server->FindElements("resource");
    ASSERT_EQ(resources.size(), 2u);
    EXPECT_EQ(Text(resources[0]->Attribute("src")), "chat");
    EXPECT_EQ(Text(resources[1]->Attribute("src")), "spawn");
    EXPECT_EQ(Text(resources[1]->Attribute("note")), "say \"hi\" AB");
    EXPECT_EQ(resources[1]->Attribute("SRC"), nullptr);
    EXPECT_EQ(resources[1]->GetAttributes()->Get("enabled")->GetType(), ARGUMENT_STRING);
    EXPECT_EQ(resources[1]->GetIndex(), 3u);

    CElementChunk* option = server->FindElement("module")->FindElement("option");
    ASSERT_TRUE(option);
    EXPECT_EQ(Text(option->Attribute("key")), "k");
    EXPECT_EQ(Text(option->GetText()), "v");
    EXPECT_EQ(option->GetParent(), server->FindElement("module"));
}

TEST(ElementXML, ElementTextIsTheLeadingTextNodeOnly)
{
    struct Case {
        const char* xml;
        const char* text;
    } cases[] = {
        {"<a>before<b/>after</a>", "before"},
        {"<a><b/>after</a>", ""},
        {"<a><!-- note -->after</a>", ""},
        {"<a><![CDATA[<raw> & stuff]]></a>", "<raw> & stuff"},
        {"<a/>", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        auto element = Load(c.xml);
        ASSERT_TRUE(element);
        EXPECT_EQ(Text(element->GetText()), c.text);
    }
}

TEST(ElementXML, MalformedDocumentFailsWithTheParsersMessageAndPosition)
{
    struct Case {
        const char* xml;
        const char* reason;
    } cases[] = {
        {"<a>\n<b>\n  </c></a>", "Error reading end tag. (line 3, column 3)"},
        // The part read before the error is not handed out as if it were the document.
        {"<root><ok/><bad></root>", "Error reading end tag. (line 1, column 17)"},
        {"<a b=c\"d\"/>", "Error reading Attributes. (line 1, column 7)"},
        {"<a x='1' x='2'/>", "Error parsing Element. (line 1, column 10)"},
        {"<a><b></b>", "Error reading Element value. (at the end of the text)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        std::string reason;
        EXPECT_FALSE(Load(c.xml, &reason));
        EXPECT_EQ(reason, c.reason);
    }
}

TEST(ElementXML, TextWithoutAnElementLoadsNothing)
{
    for (const char* xml : {"", "   \n\t", "just words", "<!-- only a comment -->", "<?xml version=\"1.0\"?>"}) {
        SCOPED_TRACE(xml);
        std::string reason;
        EXPECT_FALSE(Load(xml, &reason));
        EXPECT_FALSE(reason.empty());
        EXPECT_FALSE(CElementChunk::Load(MakeStrong<CMemoryStream>(xml, std::strlen(xml))));
    }
}

TEST(ElementXML, ByteOrderMarksAndUTF16TextAreDecoded)
{
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("<a>\xE9</a>"))
        utf16 += std::string{c, '\0'};
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"UTF-8 with a byte-order mark", "\xEF\xBB\xBF<a>\xC3\xA9</a>"},
        {"UTF-16 little-endian", utf16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto element = Load(c.bytes);
        ASSERT_TRUE(element);
        EXPECT_EQ(Text(element->GetText()), "\xC3\xA9");
    }
}

TEST(ElementXML, BytesThatAreNotUTF8AreTakenAsLatin1)
{
    // The parser steps over a multi-byte character by its lead byte alone: a broken sequence
    // would swallow the markup after it, or step past the end of the text.
    struct Case {
        std::string xml;
        const char* text;
    } cases[] = {
        {"<a>caf\xE9</a>", "caf\xC3\xA9"},
        {"<?xml version=\"1.0\"?><a>\xE0</a>", "\xC3\xA0"},
        {"<?xml version=\"1.0\"?><a x=\"\xF0\">\xE2\x82</a>", "\xC3\xA2\xC2\x82"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        std::string reason;
        auto element = Load(c.xml, &reason);
        ASSERT_TRUE(element) << reason;
        EXPECT_EQ(Text(element->GetText()), c.text);
    }
    EXPECT_FALSE(Load("<?xml version=\"1.0\"?><a x='\xF0"));
}

TEST(ElementXML, NestingUpToTheLimitLoadsAndDeeperIsRefusedBeforeParsing)
{
    std::string reason;
    // Markup inside comments, CDATA sections and quoted values is not nesting.
    const std::string quiet = "<n note='<n><n>'><!-- <n><n><n> --><![CDATA[<n><n>]]>&#60;n&#62;</n>";
    auto deepest = Load(Nested(MaxChunkDepth - 1, quiet), &reason);
    ASSERT_TRUE(deepest) << reason;
    EXPECT_EQ(Depth(*deepest), MaxChunkDepth);

    // The parser recurses once per level, so deep nesting must never reach it.
    const std::string references = [] {
        // A numeric reference runs to its ';' and takes the end tag inside it along.
        std::string text = "<r>";
        for (int i = 0; i < 100000; ++i)
            text += "<a>&#</a>#1;";
        return text + "</r>";
    }();
    for (const std::string& xml : {Nested(MaxChunkDepth + 1), Nested(200000), references}) {
        EXPECT_FALSE(Load(xml, &reason));
        EXPECT_EQ(reason, "elements are nested deeper than " + std::to_string(MaxChunkDepth) + " levels");
    }
}

TEST(ElementXML, NestingBoundCoversEveryLevelTheParserBuilds)
{
    struct Case {
        const char* xml;
        size_t bound;
    } cases[] = {
        {"<a/>", 1},
        {"<a></a><b><c></c></b>", 2},
        // Found by fuzzing: an empty element inside another is a level of the tree too.
        {"<?xml version=\"1.0\"?><!DOCTYPE r><r a=b>lead<![CDATA[<raw> & ]]><x/>tail<?pi stuff?><!-- c --></r>", 2},
        // Found by fuzzing: an element whose tag breaks off is still part of the parser's tree.
        {"<a-\xFEy", 1},
        {"<a x='<b>' y=\"<c>\"><!-- <d> --><![CDATA[<e>]]><?pi <f>?></a>", 1},
        {"<r>&#</r>#1;<a>", 2},
        {"<r>&#x</r>x1f;<a>", 2},
        {"<r>&#</r>#1x;<a>", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xml);
        EXPECT_EQ(ElementXML::MeasureNesting(c.xml, 100), c.bound);
    }
}

TEST(ElementXML, ConfigurationFileLoadsFromAFileStream)
{
    TestFiles::TempFolder folder;
    TestFiles::WriteFile(folder / "server.xml", "<server>\r\n\t<maxplayers>32</maxplayers>\r\n</server>\r\n");
    Strong<CStandardStream> file = CStandardStream::Open((folder / "server.xml").c_str(), "rb");
    ASSERT_TRUE(file);
    auto server = CElementChunk::Load(file);
    ASSERT_TRUE(server);
    EXPECT_EQ(Text(server->GetChildText("maxplayers")), "32");
}

TEST(ElementXML, LoadedXMLSavesAsAnEquivalentChunkedDocument)
{
    auto xml = Load("<meta><info author=\"me\">text</info><script src=\"s.js\" type=\"server\"/></meta>");
    ASSERT_TRUE(xml);
    auto chunked = Load(Saved(*xml, CHUNK_COMPRESSION_ZLIB));
    ASSERT_TRUE(chunked);
    EXPECT_EQ(Text(chunked->FindElement("info")->Attribute("author")), "me");
    EXPECT_EQ(Text(chunked->GetChildText("info")), "text");
    EXPECT_EQ(Text(chunked->FindElement("script")->Attribute("type")), "server");
}
