#include "Engine/BCrypt.h"
#include "Engine/Password.h"

#include <gtest/gtest.h>

// The low-level Blowfish calls serve only as an independent oracle for our core.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

#include <crypt.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace Corvane3D;

namespace {

// libxcrypt's answer, or "<refused>" where it has none.
std::string Libxcrypt(const std::string& password, const std::string& setting)
{
    auto data = std::make_unique<crypt_data>();
    const char* result = crypt_rn(password.c_str(), setting.c_str(), data.get(), sizeof(crypt_data));
    return result != nullptr && result[0] != '*' ? std::string(result) : std::string("<refused>");
}

// A salt text whose 16 bytes follow from `seed`.
std::string SaltFor(unsigned cost, uint8_t seed)
{
    uint8_t bytes[BCrypt::SaltBytes];
    for (size_t i = 0; i < BCrypt::SaltBytes; ++i)
        bytes[i] = uint8_t(seed * 37 + i * 101);
    return BCrypt::MakeSalt(cost, bytes);
}

// `length` printable bytes that differ from one position to the next.
std::string LongPassword(size_t length, char first = 'k')
{
    std::string text(length, ' ');
    for (size_t i = 0; i < length; ++i)
        text[i] = char('!' + (i * 7) % 90);
    if (length > 0)
        text[0] = first;
    return text;
}

const std::string kValidStoredText = BCrypt::bcrypt("secret", "$2a$04$abcdefghijklmnopqrstuu");

} // namespace

TEST(BCrypt, BlowfishCoreEnciphersLikeOpenSSLForKeysOfManyLengths)
{
    // Beyond 72 bytes both take only the first 72: OpenSSL cuts the key, the schedule never reaches further.
    for (size_t keyLength : {1, 4, 7, 8, 16, 33, 56, 71, 72, 80}) {
        SCOPED_TRACE(keyLength);
        std::vector<uint8_t> key(keyLength);
        for (size_t i = 0; i < keyLength; ++i)
            key[i] = uint8_t(i * 29 + keyLength);

        BCrypt::BlowfishContext ours;
        BCrypt::Blowfish_initstate(ours);
        BCrypt::Blowfish_expand0state(ours, key.data(), key.size());
        BF_KEY theirs;
        BF_set_key(&theirs, int(key.size()), key.data());

        uint32_t left = 0x01234567, right = 0x89ABCDEF;
        BF_LONG block[2] = {left, right};
        for (int i = 0; i < 8; ++i) {
            BCrypt::Blowfish_encipher(ours, left, right);
            BF_encrypt(block, &theirs);
            ASSERT_EQ(left, uint32_t(block[0]));
            ASSERT_EQ(right, uint32_t(block[1]));
        }
    }

    // The published vector for the all-zero key and block.
    BCrypt::BlowfishContext zeroKey;
    BCrypt::Blowfish_initstate(zeroKey);
    const uint8_t zeros[8] = {};
    BCrypt::Blowfish_expand0state(zeroKey, zeros, sizeof zeros);
    uint32_t left = 0, right = 0;
    BCrypt::Blowfish_encipher(zeroKey, left, right);
    EXPECT_EQ(left, 0x4EF99745u);
    EXPECT_EQ(right, 0x6198DD78u);
}

TEST(BCrypt, MatchesLibxcryptForATableOfPasswordsAndCosts)
{
    struct Case {
        std::string password;
        unsigned cost;
    };
    const Case cases[] = {
        {"", 4},
        {"a", 5},
        {"U*U", 6},
        {LongPassword(72), 7},
        {LongPassword(73), 8},
        {LongPassword(100), 4},
        {"p\xC3\xA4ssw\xC3\xB6rd", 9},       // UTF-8 "pässwörd"
        {"\xFF\xA3\x80 high bytes \xE2\x82\xAC", 5}, // bytes that a signed char would sign-extend
        {"password", 10},
    };
    uint8_t seed = 0;
    for (const Case& c : cases) {
        const std::string salt = SaltFor(c.cost, ++seed);
        SCOPED_TRACE("length " + std::to_string(c.password.size()) + ", " + salt);
        const std::string ours = BCrypt::bcrypt(c.password.c_str(), salt.c_str());
        EXPECT_EQ(ours.size(), 60u);
        EXPECT_EQ(ours.compare(0, salt.size(), salt), 0);
        EXPECT_EQ(ours, Libxcrypt(c.password, salt));
    }
}

TEST(BCrypt, LongPasswordsAgreeWithLibxcryptAndOnlyTheirFirst72BytesCount)
{
    const std::string salt = SaltFor(4, 40);
    for (size_t length : {254, 255, 256, 257, 300, 511}) {
        SCOPED_TRACE(length);
        const std::string password = LongPassword(length);
        const std::string ours = BCrypt::bcrypt(password.c_str(), salt.c_str());
        EXPECT_EQ(ours, Libxcrypt(password, salt));
        EXPECT_EQ(ours, BCrypt::bcrypt(password.substr(0, BCrypt::KeyScheduleBytes).c_str(), salt.c_str()));
    }
}

TEST(BCrypt, TheUnusedBitsOfTheLastSaltCharacterAreNormalised)
{
    // 22 characters carry 132 bits for 16 bytes; the last character's low 4 bits are dropped.
    const std::string loose = BCrypt::bcrypt("password", "$2a$04$abcdefghijklmnopqrstuv");
    const std::string normal = BCrypt::bcrypt("password", "$2a$04$abcdefghijklmnopqrstuu");
    EXPECT_EQ(loose.substr(0, 29), "$2a$04$abcdefghijklmnopqrstuu");
    EXPECT_EQ(loose, normal);
    EXPECT_EQ(loose, Libxcrypt("password", "$2a$04$abcdefghijklmnopqrstuv"));
}

TEST(BCrypt, ASaltThatItCannotUseGivesAColon)
{
    const std::string chars22 = "abcdefghijklmnopqrstuu";
    const std::string salts[] = {
        "",
        "$",
        "$2",
        "$2a",
        "$2a$",
        "$2a$10",
        "$2a$10$",
        "$2a$03$" + chars22,
        "$2a$32$" + chars22,
        "$2a$99$" + chars22,
        "$2b$10$" + chars22,
        "$2y$10$" + chars22,
        "$3a$10$" + chars22,
        "$2a$1$" + chars22,
        "$2a$1x$" + chars22,
        "$2a$ 9$" + chars22,
        "$2a10$" + chars22,
        "$2aa$10$" + chars22,
        "2a$10$" + chars22,
        "$2a$10$" + chars22.substr(0, 21),
    };
    for (const std::string& salt : salts) {
        SCOPED_TRACE(salt);
        EXPECT_EQ(BCrypt::bcrypt("password", salt.c_str()), ":");
    }
    EXPECT_EQ(BCrypt::bcrypt("password", nullptr), ":");

    char tooSmall[BCrypt::OutputSize - 1];
    BCrypt::bcrypt("password", ("$2a$04$" + chars22).c_str(), tooSmall, sizeof tooSmall);
    EXPECT_STREQ(tooSmall, ":");
}

TEST(BCrypt, SaltCharactersPastOneOutsideTheAlphabetCountAsZeroBytes)
{
    // Guards against the bytes after a bad salt character being left as whatever memory held.
    uint8_t decoded[BCrypt::SaltBytes] = {};
    EXPECT_EQ(BCrypt::DecodeBase64("abcdef!hijklmnopqrstuu", decoded, sizeof decoded), 4u);
    const std::string equivalent = "$2a$04$" + BCrypt::EncodeBase64(decoded, sizeof decoded);
    EXPECT_EQ(BCrypt::bcrypt("password", "$2a$04$abcdef!hijklmnopqrstuu"),
              BCrypt::bcrypt("password", equivalent.c_str()));
}

TEST(BCrypt, SaltTextMatchesTheSettingLibxcryptMakesFromTheSameBytes)
{
    struct Case {
        unsigned cost;
        uint8_t first;
        uint8_t step;
    };
    const Case cases[] = {{4, 0x00, 0x00}, {10, 0xFF, 0x00}, {12, 0x00, 0x11}, {31, 0x80, 0x35}};
    for (const Case& c : cases) {
        uint8_t bytes[BCrypt::SaltBytes];
        for (size_t i = 0; i < BCrypt::SaltBytes; ++i)
            bytes[i] = uint8_t(c.first + i * c.step);
        char setting[CRYPT_GENSALT_OUTPUT_SIZE];
        ASSERT_NE(crypt_gensalt_rn("$2a$", c.cost, reinterpret_cast<const char*>(bytes), sizeof bytes, setting,
                                   sizeof setting),
                  nullptr);
        const std::string salt = BCrypt::MakeSalt(c.cost, bytes);
        EXPECT_EQ(salt, setting);
        EXPECT_EQ(salt.size(), BCrypt::SaltTextLength);

        uint8_t decoded[BCrypt::SaltBytes] = {};
        EXPECT_EQ(BCrypt::DecodeBase64(salt.substr(7), decoded, sizeof decoded), BCrypt::SaltBytes);
        EXPECT_EQ(std::memcmp(decoded, bytes, sizeof bytes), 0);
    }
}

TEST(VerifyPassword, RefusesStoredValuesWithoutTheTagOrOfTheWrongShape)
{
    const std::string& valid = kValidStoredText;
    ASSERT_EQ(valid.size(), 60u);
    ASSERT_TRUE(VerifyPassword("secret", CStoredPassword(CStoredPassword::TagBCrypt, valid)));

    const std::string hash = valid.substr(7);
    struct Case {
        const char* name;
        char tag;
        std::string text;
    };
    const Case cases[] = {
        {"no password", CStoredPassword::TagNone, ""},
        {"tag 0 before a valid text", CStoredPassword::TagNone, valid},
        {"another tag", 'B', valid},
        {"tag without text", 'b', ""},
        {"cost 3", 'b', "$2a$03$" + hash},
        {"cost 31", 'b', "$2a$31$" + hash},
        {"one cost digit", 'b', "$2a$4$" + hash},
        {"minor letter b", 'b', "$2b$04$" + hash},
        {"version 3", 'b', "$3a$04$" + hash},
        {"no leading dollar", 'b', valid.substr(1)},
        {"21 characters after the cost", 'b', valid.substr(0, 7 + 21)},
        {"salt text alone", 'b', valid.substr(0, 29)},
        {"one character more", 'b', valid + "."},
        {"one character fewer", 'b', valid.substr(0, 59)},
        {"last character changed", 'b', valid.substr(0, 59) + (valid[59] == 'a' ? "b" : "a")},
        {"a zero byte and more after the text", 'b', valid + std::string(1, '\0') + "x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(VerifyPassword("secret", CStoredPassword(c.tag, c.text)));
    }
}

TEST(VerifyPassword, RefusesPasswordsThatDifferInLengthOrLetterCase)
{
    const CStoredPassword stored = CStoredPassword::Make("Secret", 4);
    ASSERT_TRUE(VerifyPassword("Secret", stored));
    for (const char* other : {"Secret1", "Secre", "secret", "SECRET", "Secret ", " Secret", ""}) {
        SCOPED_TRACE(other);
        EXPECT_FALSE(VerifyPassword(other, stored));
    }
    EXPECT_FALSE(VerifyPassword(nullptr, stored));
}

TEST(VerifyPassword, PasswordsOf255BytesOrMoreAreNeverMatchedByADifferentPassword)
{
    // Guards against a key length kept in 8 bits: with its terminator a 255-byte password would
    // wrap to length 0 and a 256-byte one to 1, keying long passwords by a prefix of a few bytes.
    for (size_t length : {255, 256, 257, 300, 511, 512, 1000}) {
        SCOPED_TRACE(length);
        const std::string password = LongPassword(length);
        const CStoredPassword stored = CStoredPassword::Make(password.c_str(), 4);
        ASSERT_TRUE(VerifyPassword(password.c_str(), stored));

        const std::string wrappedPrefix = password.substr(0, (length + 1) % 256);
        std::string sameLengthOtherMiddle = password;
        sameLengthOtherMiddle[40] = sameLengthOtherMiddle[40] == 'x' ? 'y' : 'x';
        std::vector<std::string> others = {std::string(), password.substr(0, 1), sameLengthOtherMiddle};
        if (wrappedPrefix.size() < BCrypt::KeyScheduleBytes) // longer prefixes share the 72 bytes that count
            others.push_back(wrappedPrefix);
        for (const std::string& other : others) {
            EXPECT_FALSE(VerifyPassword(other.c_str(), stored)) << "other password of length " << other.size();
            const CStoredPassword otherStored = CStoredPassword::Make(other.c_str(), 4);
            EXPECT_FALSE(VerifyPassword(password.c_str(), otherStored)) << "stored length " << other.size();
        }
    }
}

TEST(VerifyPassword, OnlyTheFirst72BytesOfALongPasswordCount)
{
    // bcrypt's key schedule reads 72 key bytes; a longer password is matched by any sharing them.
    const std::string password = LongPassword(100);
    const CStoredPassword stored = CStoredPassword::Make(password.c_str(), 4);
    std::string sharesFirst72 = password.substr(0, 72) + "different tail";
    std::string differsAt72 = password;
    differsAt72[71] = differsAt72[71] == 'x' ? 'y' : 'x';
    EXPECT_TRUE(VerifyPassword(sharesFirst72.c_str(), stored));
    EXPECT_FALSE(VerifyPassword(differsAt72.c_str(), stored));
}

TEST(StoredPassword, AnEmptyTextMakesNoPasswordAndNothingVerifies)
{
    for (const char* text : {static_cast<const char*>(nullptr), ""}) {
        const CStoredPassword stored = CStoredPassword::Make(text);
        EXPECT_FALSE(stored.IsSet());
        EXPECT_EQ(stored.GetTag(), CStoredPassword::TagNone);
        EXPECT_EQ(stored.GetStoredLength(), 0u);
        EXPECT_FALSE(VerifyPassword("", stored));
        EXPECT_FALSE(VerifyPassword(nullptr, stored));
    }
}

TEST(StoredPassword, MadeWithTheDefaultCostItIsABCryptTextThatLibxcryptAccepts)
{
    const CStoredPassword stored = CStoredPassword::Make("hunter2");
    EXPECT_EQ(stored.GetTag(), CStoredPassword::TagBCrypt);
    EXPECT_EQ(stored.GetText().substr(0, 7), "$2a$10$");
    EXPECT_EQ(stored.GetText().size(), 60u);
    EXPECT_EQ(stored.GetStoredLength(), 61u);
    EXPECT_EQ(Libxcrypt("hunter2", stored.GetText()), stored.GetText());
    EXPECT_TRUE(VerifyPassword("hunter2", stored));
}

TEST(StoredPassword, TwoMadeFromTheSameTextDifferAndBothVerifyIt)
{
    const CStoredPassword first = CStoredPassword::Make("same text", 4);
    const CStoredPassword second = CStoredPassword::Make("same text", 4);
    EXPECT_NE(first.GetText().substr(7, 22), second.GetText().substr(7, 22));
    EXPECT_NE(first.GetText(), second.GetText());
    EXPECT_TRUE(VerifyPassword("same text", first));
    EXPECT_TRUE(VerifyPassword("same text", second));
}

TEST(StoredPassword, ACostBelowTheMinimumIsRaisedSoThePasswordStillVerifies)
{
    const CStoredPassword stored = CStoredPassword::Make("text", 1);
    EXPECT_EQ(stored.GetText().substr(0, 7), "$2a$04$");
    EXPECT_TRUE(VerifyPassword("text", stored));
}
