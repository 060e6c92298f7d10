#include "Engine/BCrypt.h"

#include <cstdio>
#include <cstring>

namespace Corvane3D {
namespace BCrypt {

namespace {

#include "BlowfishPi.inc"

constexpr char kAlphabet[] = "./ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// "OrpheanBeholderScryDoubt", the text that the derived state enciphers.
constexpr uint8_t kMagicText[24] = {'O', 'r', 'p', 'h', 'e', 'a', 'n', 'B', 'e', 'h', 'o', 'l',
                                    'd', 'e', 'r', 'S', 'c', 'r', 'y', 'D', 'o', 'u', 'b', 't'};
constexpr unsigned kMagicWords = 6;
constexpr unsigned kEncipherPasses = 64;
// The result keeps 23 of the 24 enciphered bytes.
constexpr size_t kResultBytes = 23;

int AlphabetValue(char c)
{
    if (c == '.')
        return 0;
    if (c == '/')
        return 1;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 2;
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 28;
    if (c >= '0' && c <= '9')
        return c - '0' + 54;
    return -1;
}

inline uint32_t Feistel(const BlowfishContext& context, uint32_t x)
{
    return ((context.S[0][x >> 24] + context.S[1][(x >> 16) & 0xFF]) ^ context.S[2][(x >> 8) & 0xFF]) +
           context.S[3][x & 0xFF];
}

// The next four bytes of `data`, big-endian, wrapping round to its start. The position is a
// size_t, so keys of any length are read with their true length.
inline uint32_t NextWord(const uint8_t* data, size_t length, size_t& position)
{
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) {
        uint8_t byte = 0;
        if (length != 0) {
            if (position >= length)
                position = 0;
            byte = data[position++];
        }
        word = (word << 8) | byte;
    }
    return word;
}

void XorKeyIntoP(BlowfishContext& context, const uint8_t* key, size_t keyLength)
{
    if (key == nullptr)
        keyLength = 0;
    size_t position = 0;
    for (uint32_t& word : context.P)
        word ^= NextWord(key, keyLength, position);
}

// Replaces P and then the S-boxes by enciphering a running block, optionally mixed with data.
void ReplaceState(BlowfishContext& context, const uint8_t* data, size_t dataLength)
{
    size_t position = 0;
    uint32_t left = 0, right = 0;
    auto step = [&](uint32_t& first, uint32_t& second) {
        if (data != nullptr) {
            left ^= NextWord(data, dataLength, position);
            right ^= NextWord(data, dataLength, position);
        }
        Blowfish_encipher(context, left, right);
        first = left;
        second = right;
    };
    for (unsigned i = 0; i < 18; i += 2)
        step(context.P[i], context.P[i + 1]);
    for (auto& box : context.S)
        for (unsigned i = 0; i < 256; i += 2)
            step(box[i], box[i + 1]);
}

struct ParsedSalt {
    char version = 0;
    char minor = 0;
    unsigned cost = 0;
    const char* characters = nullptr;
};

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "$", a version not above '2', optionally the minor letter 'a', "$", a two-digit cost from 4
// to 31, "$" and at least 22 more characters. Never reads past the text's terminator.
bool ParseSalt(const char* salt, ParsedSalt& parsed)
{
    if (salt == nullptr || salt[0] != '$')
        return false;
    if (salt[1] == '\0' || salt[1] > '2')
        return false;
    parsed.version = salt[1];
    size_t position = 2;
    if (salt[position] != '$') {
        if (salt[position] != 'a')
            return false;
        parsed.minor = 'a';
        ++position;
        if (salt[position] != '$')
            return false;
    }
    ++position;
    if (!IsDigit(salt[position]) || !IsDigit(salt[position + 1]) || salt[position + 2] != '$')
        return false;
    parsed.cost = unsigned(salt[position] - '0') * 10 + unsigned(salt[position + 1] - '0');
    if (parsed.cost < MinimumCost || parsed.cost > MaximumCost)
        return false;
    position += 3;
    if (strnlen(salt + position, SaltCharacters) < SaltCharacters)
        return false;
    parsed.characters = salt + position;
    return true;
}

void WriteFailure(char* output, size_t outputSize)
{
    if (output == nullptr || outputSize == 0)
        return;
    if (outputSize >= 2) {
        output[0] = ':';
        output[1] = '\0';
    } else {
        output[0] = '\0';
    }
}

} // namespace

void Blowfish_initstate(BlowfishContext& context)
{
    std::memcpy(context.S, kPiS, sizeof context.S);
    std::memcpy(context.P, kPiP, sizeof context.P);
}

void Blowfish_encipher(const BlowfishContext& context, uint32_t& left, uint32_t& right)
{
    uint32_t l = left ^ context.P[0];
    uint32_t r = right;
    for (unsigned i = 1; i < 17; i += 2) {
        r ^= Feistel(context, l) ^ context.P[i];
        l ^= Feistel(context, r) ^ context.P[i + 1];
    }
    left = r ^ context.P[17];
    right = l;
}

void Blowfish_expand0state(BlowfishContext& context, const uint8_t* key, size_t keyLength)
{
    XorKeyIntoP(context, key, keyLength);
    ReplaceState(context, nullptr, 0);
}

void Blowfish_expandstate(BlowfishContext& context, const uint8_t* data, size_t dataLength, const uint8_t* key,
                          size_t keyLength)
{
    static const uint8_t zero = 0;
    XorKeyIntoP(context, key, keyLength);
    ReplaceState(context, data != nullptr ? data : &zero, data != nullptr ? dataLength : 0);
}

std::string EncodeBase64(const uint8_t* data, size_t length)
{
    std::string text;
    text.reserve((length * 4 + 2) / 3);
    uint32_t bits = 0;
    unsigned count = 0;
    for (size_t i = 0; i < length; ++i) {
        bits = (bits << 8) | data[i];
        count += 8;
        while (count >= 6) {
            count -= 6;
            text.push_back(kAlphabet[(bits >> count) & 0x3F]);
        }
        bits &= (1u << count) - 1;
    }
    if (count > 0)
        text.push_back(kAlphabet[(bits << (6 - count)) & 0x3F]);
    return text;
}

size_t DecodeBase64(std::string_view text, uint8_t* output, size_t capacity)
{
    uint32_t bits = 0;
    unsigned count = 0;
    size_t written = 0;
    for (char c : text) {
        if (written == capacity)
            break;
        const int value = AlphabetValue(c);
        if (value < 0)
            break;
        bits = (bits << 6) | uint32_t(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            output[written++] = uint8_t(bits >> count);
            bits &= (1u << count) - 1;
        }
    }
    return written;
}

std::string MakeSalt(unsigned cost, const uint8_t (&salt)[SaltBytes])
{
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "$2a$%2.2u$", cost);
    return prefix + EncodeBase64(salt, SaltBytes);
}

void bcrypt(const char* key, const char* salt, char* output, size_t outputSize)
{
    ParsedSalt parsed;
    if (output == nullptr || outputSize < OutputSize || !ParseSalt(salt, parsed)) {
        WriteFailure(output, outputSize);
        return;
    }

    // Characters past a non-alphabet one leave their bytes zero rather than undefined.
    uint8_t saltBytes[SaltBytes] = {};
    DecodeBase64(std::string_view(parsed.characters, SaltCharacters), saltBytes, SaltBytes);

    // The key is the text and, with the minor letter, its terminating zero. Its length is a size_t
    // and the schedule takes it cyclically, so from 72 bytes on exactly the first 72 count (equal
    // first 72 bytes match, as in every bcrypt), while no length wraps round and lets a long
    // password match a short one.
    if (key == nullptr)
        key = "";
    const auto* keyBytes = reinterpret_cast<const uint8_t*>(key);
    const size_t keyLength = std::strlen(key) + (parsed.minor == 'a' ? 1 : 0);

    BlowfishContext context;
    Blowfish_initstate(context);
    Blowfish_expandstate(context, saltBytes, SaltBytes, keyBytes, keyLength);
    const uint64_t rounds = uint64_t(1) << parsed.cost;
    for (uint64_t round = 0; round < rounds; ++round) {
        Blowfish_expand0state(context, keyBytes, keyLength);
        Blowfish_expand0state(context, saltBytes, SaltBytes);
    }

    uint32_t words[kMagicWords];
    size_t position = 0;
    for (uint32_t& word : words)
        word = NextWord(kMagicText, sizeof kMagicText, position);
    for (unsigned pass = 0; pass < kEncipherPasses; ++pass)
        for (unsigned i = 0; i < kMagicWords; i += 2)
            Blowfish_encipher(context, words[i], words[i + 1]);

    uint8_t result[4 * kMagicWords];
    for (unsigned i = 0; i < kMagicWords; ++i) {
        result[4 * i] = uint8_t(words[i] >> 24);
        result[4 * i + 1] = uint8_t(words[i] >> 16);
        result[4 * i + 2] = uint8_t(words[i] >> 8);
        result[4 * i + 3] = uint8_t(words[i]);
    }

    std::string text = "$";
    text.push_back(parsed.version);
    if (parsed.minor != 0)
        text.push_back(parsed.minor);
    char cost[8];
    std::snprintf(cost, sizeof cost, "$%2.2u$", parsed.cost);
    text += cost;
    text += EncodeBase64(saltBytes, SaltBytes);
    text += EncodeBase64(result, kResultBytes);
    std::memcpy(output, text.c_str(), text.size() + 1);

    // The derived state and result would let anyone holding this memory skip the expensive setup.
    explicit_bzero(&context, sizeof context);
    explicit_bzero(result, sizeof result);
    explicit_bzero(saltBytes, sizeof saltBytes);
}

std::string bcrypt(const char* key, const char* salt)
{
    char output[OutputSize];
    bcrypt(key, salt, output, sizeof output);
    return output;
}

} // namespace BCrypt
} // namespace Corvane3D
