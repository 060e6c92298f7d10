#include "Engine/CRC32Hash.h"
#include "Engine/MD5Hash.h"
#include "Engine/SHA256.h"
#include "Engine/Stream.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

using namespace Corvane3D;

namespace {

std::vector<uint8_t> PatternBytes(size_t length, uint32_t seed)
{
    std::vector<uint8_t> bytes(length);
    uint32_t state = seed;
    for (uint8_t& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = uint8_t(state >> 24);
    }
    return bytes;
}

struct DigestInput {
    const char* name;
    std::vector<uint8_t> bytes;
};

// Lengths around the 64-byte block and its 56-byte padding limit, and one large input.
std::vector<DigestInput> DigestInputs()
{
    return {
        {"empty", {}},
        {"1 byte", {0x61}},
        {"55 bytes", PatternBytes(55, 1)},
        {"56 bytes", PatternBytes(56, 2)},
        {"63 bytes", PatternBytes(63, 3)},
        {"64 bytes", PatternBytes(64, 4)},
        {"65 bytes", PatternBytes(65, 5)},
        {"1 MB", PatternBytes(1000000, 6)},
    };
}

// Calls `add` with consecutive pieces of uneven sizes that cross block boundaries at every offset.
template <typename Add>
void AddInUnevenPieces(const std::vector<uint8_t>& bytes, Add add)
{
    static constexpr size_t kPieces[] = {1, 2, 3, 5, 7, 11, 13, 17, 63, 64, 65, 100, 4093};
    size_t offset = 0;
    for (size_t i = 0; offset < bytes.size(); ++i) {
        const size_t piece = std::min(kPieces[i % std::size(kPieces)], bytes.size() - offset);
        add(bytes.data() + offset, piece);
        offset += piece;
    }
}

uint32_t ZlibCrc(const void* data, size_t length)
{
    return uint32_t(crc32(crc32(0L, Z_NULL, 0), static_cast<const Bytef*>(data), uInt(length)));
}

std::vector<uint8_t> OpenSSLDigest(const EVP_MD* type, const std::vector<uint8_t>& bytes)
{
    std::vector<uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(bytes.data(), bytes.size(), digest.data(), &length, type, nullptr), 1);
    digest.resize(length);
    return digest;
}

template <size_t N>
std::vector<uint8_t> AsVector(const std::array<uint8_t, N>& digest)
{
    return std::vector<uint8_t>(digest.begin(), digest.end());
}

// Delivers at most `piece` bytes per read, as a socket or a slow file might.
class ShortReadStream : public Stream {
public:
    ShortReadStream(std::vector<uint8_t> bytes, size_t piece) : m_bytes(std::move(bytes)), m_piece(piece) {}
    size_t Read(void* buffer, size_t count) override
    {
        const size_t n = std::min({count, m_piece, m_bytes.size() - m_position});
        std::memcpy(buffer, m_bytes.data() + m_position, n);
        m_position += n;
        return n;
    }
    size_t Write(const void*, size_t) override { return 0; }
    bool Seek(int64_t, int) override { return false; }
    uint64_t Tell() override { return m_position; }

private:
    std::vector<uint8_t> m_bytes;
    size_t m_piece;
    size_t m_position = 0;
};

} // namespace

TEST(CRC32Hash, MatchesZlibForWholeInputsAndInputsAddedInUnevenPieces)
{
    for (const DigestInput& input : DigestInputs()) {
        SCOPED_TRACE(input.name);
        const uint32_t expected = ZlibCrc(input.bytes.data(), input.bytes.size());

        CRC32Hash whole;
        whole.AddData(input.bytes.data(), input.bytes.size());
        EXPECT_EQ(whole.GetHash(), expected);

        CRC32Hash pieces;
        AddInUnevenPieces(input.bytes, [&](const uint8_t* data, size_t length) { pieces.AddData(data, length); });
        EXPECT_EQ(pieces.GetHash(), expected);

        CRC32Hash bytewise;
        for (uint8_t byte : input.bytes)
            bytewise.AddByte(byte);
        EXPECT_EQ(bytewise.GetHash(), expected);
    }
    EXPECT_EQ(CRC32Hash::HashString("123456789", false), 0xCBF43926u);
}

TEST(CRC32Hash, LowerCasingMakesNamesMatchRegardlessOfLetterCase)
{
    EXPECT_EQ(CRC32Hash::HashString("Lua", true), CRC32Hash::HashString("lua", true));
    EXPECT_EQ(CRC32Hash::HashString("Lua", true), CRC32Hash::HashString("lua", false));
    EXPECT_NE(CRC32Hash::HashString("Lua", false), CRC32Hash::HashString("lua", false));
}

TEST(CRC32Hash, AddStringHashesTheBytesItIsGivenUpToTheFirstZeroByte)
{
    constexpr size_t kWholeText = size_t(-1);
    struct Case {
        const char* text;
        size_t count; // kWholeText: the nul-terminated form
        bool lowerCase;
        std::string hashedBytes;
    };
    const Case cases[] = {
        {nullptr, kWholeText, false, ""},
        {"", kWholeText, true, ""},
        {"OnPlayerJoin", kWholeText, false, "OnPlayerJoin"},
        {"OnPlayerJoin", kWholeText, true, "onplayerjoin"},
        {"Z@[`a{", kWholeText, true, "z@[`a{"},
        // Only A-Z change: bytes of other scripts pass through, whatever the locale.
        {"\xC3\x84PFEL", kWholeText, true, "\xC3\x84pfel"},
        {nullptr, 10, false, ""},
        {"abcd", 0, false, ""},
        {"abcd", 2, false, "ab"},
        {"abcd", 10, false, "abcd"},
        {"ABCD", 10, true, "abcd"},
        {"ab\0cd", 5, false, "ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hashedBytes + (c.lowerCase ? " (lower-cased)" : ""));
        CRC32Hash hash;
        if (c.count == kWholeText)
            hash.AddString(c.text, c.lowerCase);
        else
            hash.AddString(c.text, c.count, c.lowerCase);
        EXPECT_EQ(hash.GetHash(), ZlibCrc(c.hashedBytes.data(), c.hashedBytes.size()));
    }
}

TEST(CRC32Hash, StreamHashCoversEverythingFromThePositionToTheEnd)
{
    // Larger than the 1 MiB read piece, so several pieces and a partial last one are hashed.
    const std::vector<uint8_t> bytes = PatternBytes(3 * CRC32Hash::StreamPieceSize + 17, 7);
    struct Case {
        const char* name;
        size_t start;
    };
    const Case cases[] = {
        {"from the start", 0},
        {"from inside the first piece", CRC32Hash::StreamPieceSize - 3},
        {"from the end", bytes.size()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto stream = MakeStrong<CMemoryStream>(bytes.data(), bytes.size());
        ASSERT_TRUE(stream->Seek(int64_t(c.start), SEEK_ORIGIN_BEGIN));
        EXPECT_EQ(CRC32Hash::GetHash(stream.Get()), ZlibCrc(bytes.data() + c.start, bytes.size() - c.start));
    }

    auto shortReads = MakeStrong<ShortReadStream>(bytes, 777);
    EXPECT_EQ(CRC32Hash::GetHash(shortReads.Get()), ZlibCrc(bytes.data(), bytes.size()));
    EXPECT_EQ(CRC32Hash::GetHash(nullptr), 0u);
}

TEST(CRC32Hash, StreamsHashedOnTwoThreadsAtOnceGiveTheirOwnHashes)
{
    // Guards against one read buffer shared by all calls, which would mix the two streams' bytes.
    const std::vector<uint8_t> first = PatternBytes(4 * CRC32Hash::StreamPieceSize, 11);
    const std::vector<uint8_t> second = PatternBytes(4 * CRC32Hash::StreamPieceSize, 12);
    const uint32_t expected[2] = {ZlibCrc(first.data(), first.size()), ZlibCrc(second.data(), second.size())};
    bool correct[2] = {true, true};
    auto work = [&](int which, const std::vector<uint8_t>& bytes) {
        for (int round = 0; round < 4; ++round) {
            auto stream = MakeStrong<ShortReadStream>(bytes, CRC32Hash::StreamPieceSize);
            if (CRC32Hash::GetHash(stream.Get()) != expected[which])
                correct[which] = false;
        }
    };
    std::thread a(work, 0, std::cref(first));
    std::thread b(work, 1, std::cref(second));
    a.join();
    b.join();
    EXPECT_TRUE(correct[0]);
    EXPECT_TRUE(correct[1]);
}

TEST(MD5Hash, MatchesOpenSSLForWholeInputsAndInputsAddedInUnevenPieces)
{
    CMD5Hash reused; // Final starts over, so one object serves every input
    for (const DigestInput& input : DigestInputs()) {
        SCOPED_TRACE(input.name);
        const std::vector<uint8_t> expected = OpenSSLDigest(EVP_md5(), input.bytes);
        EXPECT_EQ(AsVector(CMD5Hash::Compute(input.bytes.data(), input.bytes.size())), expected);
        AddInUnevenPieces(input.bytes, [&](const uint8_t* data, size_t length) { reused.Update(data, length); });
        EXPECT_EQ(AsVector(reused.Final()), expected);
    }
}

TEST(MD5Hash, TransformOfOnePaddedBlockGivesTheDigestWords)
{
    // "abc", the 0x80 pad byte and the bit length 24 in the fourteenth word.
    uint32_t block[16] = {};
    block[0] = 0x80636261;
    block[14] = 24;
    uint32_t state[4] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476};
    CMD5Hash::Transform(state, block);

    const std::vector<uint8_t> expected = OpenSSLDigest(EVP_md5(), {'a', 'b', 'c'});
    for (int i = 0; i < 4; ++i) {
        const uint32_t word = uint32_t(expected[4 * i]) | (uint32_t(expected[4 * i + 1]) << 8) |
                              (uint32_t(expected[4 * i + 2]) << 16) | (uint32_t(expected[4 * i + 3]) << 24);
        EXPECT_EQ(state[i], word) << "word " << i;
    }
}

TEST(SHA256Hash, MatchesOpenSSLForWholeInputsAndInputsAddedInUnevenPieces)
{
    CSHA256 reused; // Final starts over, so one object serves every input
    for (const DigestInput& input : DigestInputs()) {
        SCOPED_TRACE(input.name);
        const std::vector<uint8_t> expected = OpenSSLDigest(EVP_sha256(), input.bytes);
        EXPECT_EQ(AsVector(CSHA256::Compute(input.bytes.data(), input.bytes.size())), expected);
        AddInUnevenPieces(input.bytes, [&](const uint8_t* data, size_t length) { reused.Update(data, length); });
        EXPECT_EQ(AsVector(reused.Final()), expected);
    }
}

TEST(SHA256Hash, HexFormIsSixtyFourDigitsInTheAskedLetterCase)
{
    const CSHA256::Digest digest = CSHA256::Compute("", 0);
    EXPECT_EQ(CSHA256::ToHex(digest, true), "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855");
    EXPECT_EQ(CSHA256::ToHex(digest, false), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}
