#include "Engine/CorvaneStream.h"
#include "Engine/ObjectValue.h"
#include "Engine/Stream.h"
#include "Engine/TextStream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

using namespace Corvane3D;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Contents(CUnlimitedStream& stream)
{
    return Bytes(stream.GetData(), stream.GetData() + stream.GetLength());
}

// A read-only stream that owns a copy of the bytes, so temporaries are safe to pass.
Strong<CMemoryStream> Over(const Bytes& bytes)
{
    auto owner = MakeStrong<CObjectValue<Bytes>>(bytes);
    return MakeStrong<CMemoryStream>(owner->Value().data(), owner->Value().size(), true, false, owner.Get());
}

// A temporary file removed with the fixture.
struct TempFile {
    TempFile()
    {
        char pattern[] = "/tmp/halden-stream-XXXXXX";
        const int fd = mkstemp(pattern);
        close(fd);
        path = pattern;
    }
    ~TempFile() { unlink(path.c_str()); }
    void Write(const Bytes& bytes) const
    {
        FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), file);
        std::fclose(file);
    }
    std::string path;
};

} // namespace

TEST(BinaryEncodings, ScalarsAreLittleEndianAtTheirExactWidth)
{
    auto stream = MakeStrong<CUnlimitedStream>();
    CBinaryWriter writer(stream);
    writer.WriteUInt8(0xAB);
    writer.WriteInt16(-2);
    writer.WriteUInt32(0x01020304);
    writer.WriteInt64(-1);
    writer.WriteSingle(1.0f);
    writer.WriteDouble(-2.0);
    writer.WriteBoolean(true);
    writer.WriteVector3D(CVector3D{1.0f, 0.0f, -1.0f});
    const Bytes expected = {0xAB, 0xFE, 0xFF, 0x04, 0x03, 0x02, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                            0xFF, 0x00, 0x00, 0x80, 0x3F, 0, 0, 0, 0, 0, 0, 0x00, 0xC0, 0x01, 0x00, 0x00, 0x80,
                            0x3F, 0, 0, 0, 0, 0x00, 0x00, 0x80, 0xBF};
    EXPECT_EQ(Contents(*stream), expected);

    stream->Rewind();
    CBinaryReader reader(stream);
    uint8_t u8;
    int16_t i16;
    uint32_t u32;
    int64_t i64;
    float f;
    double d;
    bool b;
    CVector3D v;
    ASSERT_TRUE(reader.ReadUInt8(u8) && reader.ReadInt16(i16) && reader.ReadUInt32(u32) && reader.ReadInt64(i64) &&
                reader.ReadSingle(f) && reader.ReadDouble(d) && reader.ReadBoolean(b) && reader.ReadVector3D(v));
    EXPECT_EQ(u8, 0xAB);
    EXPECT_EQ(i16, -2);
    EXPECT_EQ(u32, 0x01020304u);
    EXPECT_EQ(i64, -1);
    EXPECT_EQ(f, 1.0f);
    EXPECT_EQ(d, -2.0);
    EXPECT_TRUE(b);
    EXPECT_EQ(v, (CVector3D{1.0f, 0.0f, -1.0f}));
}

TEST(BinaryEncodings, VarUIntUsesSevenBitGroupsLeastSignificantFirst)
{
    struct Case {
        uint32_t value;
        Bytes bytes;
    };
    const Case cases[] = {
        {0, {0x00}},
        {127, {0x7F}},
        {128, {0x80, 0x01}},
        {300, {0xAC, 0x02}},
        {16383, {0xFF, 0x7F}},
        {16384, {0x80, 0x80, 0x01}},
        {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0x0F}},
    };
    for (const Case& c : cases) {
        auto stream = MakeStrong<CUnlimitedStream>();
        CBinaryWriter(stream).Write7BitEncodedInt(c.value);
        EXPECT_EQ(Contents(*stream), c.bytes) << c.value;
        EXPECT_EQ(Get7BitEncodedIntSize(c.value), c.bytes.size()) << c.value;
        uint32_t back = 0;
        EXPECT_TRUE(CBinaryReader(Over(c.bytes)).Read7BitEncodedInt(back));
        EXPECT_EQ(back, c.value);
    }
}

TEST(BinaryEncodings, StringsCarryAVarUIntByteCountAndNoTerminator)
{
    struct Case {
        size_t length;
        Bytes prefix;
    };
    const Case cases[] = {{0, {0x00}}, {1, {0x01}}, {127, {0x7F}}, {128, {0x80, 0x01}}, {20000, {0xA0, 0x9C, 0x01}}};
    for (const Case& c : cases) {
        const std::string text(c.length, 'x');
        auto stream = MakeStrong<CUnlimitedStream>();
        ASSERT_TRUE(CBinaryWriter(stream).WriteString(text));
        const Bytes bytes = Contents(*stream);
        ASSERT_EQ(bytes.size(), GetStringSize(c.length));
        EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + c.prefix.size()), c.prefix);
        std::string back = "previous";
        EXPECT_TRUE(CBinaryReader(Over(bytes)).ReadString(back));
        EXPECT_EQ(back, text);
    }
    auto stream = MakeStrong<CUnlimitedStream>();
    EXPECT_TRUE(CBinaryWriter(stream).WriteString(nullptr));
    EXPECT_EQ(Contents(*stream), Bytes{0x00});
}

// Guards truncated input: a read that meets the end fails and leaves its target alone.
TEST(BinaryEncodings, ReadsPastTheEndFailCleanly)
{
    const Bytes two = {0x11, 0x22};
    uint32_t u32 = 0xAAAAAAAA;
    EXPECT_FALSE(CBinaryReader(Over(two)).ReadUInt32(u32));
    EXPECT_EQ(u32, 0xAAAAAAAAu);

    uint32_t varuint = 7;
    EXPECT_FALSE(CBinaryReader(Over({0x80, 0x80, 0x80, 0x80, 0x80})).Read7BitEncodedInt(varuint));
    EXPECT_FALSE(CBinaryReader(Over({0x80, 0x80})).Read7BitEncodedInt(varuint));
    EXPECT_EQ(varuint, 7u);

    struct Case {
        const char* what;
        Bytes bytes;
    };
    const Case strings[] = {
        {"count beyond the remaining bytes", {0x05, 'a', 'b'}},
        {"count with bit 31 set", {0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 'a'}},
        {"two gigabytes asked of a six-byte message", {0x80, 0x80, 0x80, 0x80, 0x07, 'a'}},
        {"prefix cut short", {0x80}},
        {"nothing at all", {}},
    };
    for (const Case& c : strings) {
        std::string text = "kept";
        EXPECT_FALSE(CBinaryReader(Over(c.bytes)).ReadString(text)) << c.what;
        EXPECT_EQ(text, "kept") << c.what;
    }

    float values[4];
    EXPECT_FALSE(CBinaryReader(Over(Bytes(12))).ReadSingle(values, 4));
    Bytes raw;
    EXPECT_FALSE(CBinaryReader(Over(two)).Read(raw, 3));
    EXPECT_FALSE(CBinaryReader(Over(two)).Skip(3));
}

TEST(MemoryStream, RespectsAccessFlagsAndBounds)
{
    uint8_t buffer[10] = {};
    CMemoryStream readOnly(buffer, sizeof buffer, true, false);
    EXPECT_EQ(readOnly.Write("x", 1), 0u);

    CMemoryStream stream(buffer, sizeof buffer, true, true);
    ASSERT_TRUE(stream.Seek(-5, SEEK_ORIGIN_END));
    EXPECT_EQ(stream.Write("0123456789", 10), 0u) << "all or nothing";
    EXPECT_EQ(stream.Tell(), 5u);
    EXPECT_EQ(stream.Write("abcde", 5), 5u);
    ASSERT_TRUE(stream.Seek(20, SEEK_ORIGIN_BEGIN));
    uint8_t byte;
    EXPECT_EQ(stream.Read(&byte, 1), 0u);
    EXPECT_EQ(stream.Write("z", 1), 0u);
    EXPECT_FALSE(stream.Seek(-1, SEEK_ORIGIN_BEGIN));
    EXPECT_FALSE(stream.Seek(0, 7));
}

TEST(UnlimitedStream, GrowsByDoublingAndBacksSeeksPastTheEnd)
{
    auto stream = MakeStrong<CUnlimitedStream>();
    EXPECT_TRUE(stream->IsInline());
    const std::string big(5000, 'q');
    EXPECT_EQ(stream->Write(big.data(), big.size()), big.size());
    EXPECT_FALSE(stream->IsInline());
    EXPECT_EQ(stream->GetCapacity(), 8192u);

    ASSERT_TRUE(stream->Seek(10, SEEK_ORIGIN_END));
    EXPECT_EQ(stream->GetLength(), 5010u);
    stream->Seek(5000, SEEK_ORIGIN_BEGIN);
    uint8_t gap[10];
    ASSERT_EQ(stream->Read(gap, 10), 10u);
    for (uint8_t b : gap)
        EXPECT_EQ(b, 0);

    EXPECT_FALSE(stream->Seek(int64_t(1) << 40, SEEK_ORIGIN_BEGIN)) << "absurd sizes are refused, not allocated";
}

TEST(RangeStream, NeverReadsOrWritesOutsideItsWindow)
{
    Bytes bytes = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    auto parent = MakeStrong<CMemoryStream>(bytes.data(), bytes.size(), true, true);
    CStreamRangeStream window(parent, 3, 4);
    EXPECT_EQ(window.GetLength(), 4u);
    uint8_t out[8] = {};
    EXPECT_EQ(window.Read(out, 8), 4u);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{3, 4, 5, 6}));
    EXPECT_EQ(window.Read(out, 1), 0u);
    window.Seek(2, SEEK_ORIGIN_BEGIN);
    EXPECT_EQ(window.Write("abc", 3), 0u);
    EXPECT_EQ(window.Write("ab", 2), 2u);
    EXPECT_EQ(bytes[5], 'a');
    EXPECT_EQ(bytes[7], 7);
}

TEST(StandardStream, OpensReadsWritesAndMeasuresFiles)
{
    TempFile file;
    EXPECT_EQ(CStandardStream::Open("/nonexistent/dir/file", "rb"), nullptr);
    {
        auto stream = CStandardStream::Open(file.path.c_str(), "wb+");
        ASSERT_NE(stream, nullptr);
        CBinaryWriter(stream).WriteString("hello");
        EXPECT_EQ(stream->GetLength(), 6u);
        EXPECT_EQ(stream->Tell(), 6u) << "GetLength restores the position";
    }
    auto stream = CStandardStream::Open(file.path.c_str(), "rb");
    std::string text;
    EXPECT_TRUE(CBinaryReader(stream).ReadString(text));
    EXPECT_EQ(text, "hello");
}

TEST(TextReader, DecodesByteOrderMarksToUtf8)
{
    struct Case {
        const char* what;
        Bytes file;
        std::string text;
    };
    const Case cases[] = {
        {"UTF-8 mark", {0xEF, 0xBB, 0xBF, 'a', 'b'}, "ab"},
        {"UTF-16 little-endian mark", {0xFF, 0xFE, 'a', 0, 'b', 0}, "ab"},
        {"UTF-16 big-endian mark", {0xFE, 0xFF, 0, 'a', 0, 'b'}, "ab"},
        {"UTF-16 beyond Latin-1", {0xFF, 0xFE, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE}, "\xE2\x82\xAC\xF0\x9F\x98\x80"},
        {"UTF-32 big-endian mark", {0, 0, 0xFE, 0xFF, 0, 0, 0, 'z'}, "z"},
        {"no mark", {'a', 'b', 'c'}, "abc"},
        {"shorter than a mark", {'a'}, "a"},
        {"empty", {}, ""},
    };
    for (const Case& c : cases) {
        CTextReader reader(Over(c.file));
        size_t length = 0;
        const char* text = reader.LoadText(&length);
        ASSERT_NE(text, nullptr) << c.what;
        EXPECT_EQ(std::string(text, length), c.text) << c.what;
    }
}

TEST(TextReader, ReadsLinesWithoutTheirLineEnds)
{
    const std::string content = "a\r\nb\n\nlast line without a feed that is sixty-four bytes long..........";
    ASSERT_EQ(content.size() - content.rfind('\n') - 1, 64u);
    CTextReader reader(Over(Bytes(content.begin(), content.end())));
    std::vector<std::string> lines;
    char buffer[128];
    size_t length;
    while (reader.ReadLine(buffer, sizeof buffer, &length))
        lines.emplace_back(buffer, length);
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b", "", content.substr(content.rfind('\n') + 1)}));
}

// Guards console input: a line longer than the buffer is refused whole, never returned in pieces.
TEST(TextReader, ALineTooLongForTheBufferIsSkippedWhole)
{
    const std::string content = std::string(100, 'x') + "\nnext\n";
    CTextReader reader(Over(Bytes(content.begin(), content.end())));
    char buffer[16];
    EXPECT_FALSE(reader.ReadLine(buffer, sizeof buffer));
    ASSERT_TRUE(reader.ReadLine(buffer, sizeof buffer));
    EXPECT_STREQ(buffer, "next");
}

TEST(TextReader, ReadCharacterDecodesUtf8AndStopsOnBrokenSequences)
{
    const Bytes bytes = {'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0x80, 0xC3, 'x'};
    CTextReader reader(Over(bytes));
    uint32_t c = 0;
    ASSERT_TRUE(reader.ReadCharacter(c));
    EXPECT_EQ(c, 'a');
    ASSERT_TRUE(reader.ReadCharacter(c));
    EXPECT_EQ(c, 0xE9u);
    ASSERT_TRUE(reader.ReadCharacter(c));
    EXPECT_EQ(c, 0x20ACu);
    c = 0;
    EXPECT_TRUE(reader.ReadCharacter(c)) << "a stray continuation byte is skipped";
    EXPECT_EQ(c, 0u);
    EXPECT_FALSE(reader.ReadCharacter(c)) << "a lead byte followed by a non-continuation byte";
}

TEST(TextWriter, StartsNewFilesWithTheUtf8Mark)
{
    auto stream = MakeStrong<CUnlimitedStream>();
    CTextWriter writer(stream);
    EXPECT_TRUE(writer.Print("%s=%d", "x", 5));
    EXPECT_TRUE(writer.Write(";", 1));
    EXPECT_EQ(Contents(*stream), (Bytes{0xEF, 0xBB, 0xBF, 'x', '=', '5', ';'}));

    auto cut = MakeStrong<CUnlimitedStream>();
    CTextWriter(cut).Print("%s", std::string(5000, 'y').c_str());
    EXPECT_EQ(cut->GetLength(), 3u + 4095u);
}
