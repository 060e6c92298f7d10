#include "Engine/Password.h"

#include "Engine/BCrypt.h"

#include <openssl/rand.h>

#include <cstdlib>
#include <cstring>

namespace Corvane3D {

namespace {

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "$", a version not above '2', optionally 'a', "$", a two-digit cost from 4 to 30, "$" and at
// least 22 more characters. The cost is capped below bcrypt's own limit so that no stored value
// can ask for 2^31 rounds.
bool HasVerifiableShape(const std::string& text)
{
    const char* p = text.c_str();
    if (p[0] != '$' || p[1] == '\0' || p[1] > '2')
        return false;
    size_t position = 2;
    if (p[position] == 'a')
        ++position;
    if (p[position] != '$')
        return false;
    ++position;
    if (!IsDigit(p[position]) || !IsDigit(p[position + 1]) || p[position + 2] != '$')
        return false;
    const unsigned cost = unsigned(p[position] - '0') * 10 + unsigned(p[position + 1] - '0');
    if (cost < CStoredPassword::MinimumCost || cost > CStoredPassword::MaximumCost)
        return false;
    position += 3;
    return text.size() >= position + BCrypt::SaltCharacters;
}

// Looks at every position up to the longer length, so the time taken does not tell how much of
// a guess was right.
bool EqualInConstantTime(const char* a, size_t aLength, const char* b, size_t bLength)
{
    const size_t length = aLength > bLength ? aLength : bLength;
    unsigned difference = aLength != bLength ? 1u : 0u;
    for (size_t i = 0; i < length; ++i) {
        const unsigned char x = i < aLength ? static_cast<unsigned char>(a[i]) : 0;
        const unsigned char y = i < bLength ? static_cast<unsigned char>(b[i]) : 0;
        difference |= unsigned(x ^ y);
    }
    return difference == 0;
}

} // namespace

CStoredPassword CStoredPassword::Make(const char* text, unsigned cost)
{
    if (text == nullptr || text[0] == '\0')
        return CStoredPassword();
    if (cost < MinimumCost)
        cost = MinimumCost;
    if (cost > MaximumCost)
        cost = MaximumCost;

    uint8_t salt[BCrypt::SaltBytes];
    if (RAND_bytes(salt, sizeof salt) != 1) {
        for (uint8_t& byte : salt)
            byte = static_cast<uint8_t>(std::rand() & 0xFF);
    }
    const std::string saltText = BCrypt::MakeSalt(cost, salt);
    return CStoredPassword(TagBCrypt, BCrypt::bcrypt(text, saltText.c_str()));
}

bool VerifyPassword(const char* password, const CStoredPassword& stored)
{
    if (stored.GetTag() != CStoredPassword::TagBCrypt)
        return false;
    const std::string& text = stored.GetText();
    if (!HasVerifiableShape(text))
        return false;
    char computed[BCrypt::OutputSize];
    BCrypt::bcrypt(password != nullptr ? password : "", text.c_str(), computed, sizeof computed);
    const bool match = EqualInConstantTime(computed, std::strlen(computed), text.data(), text.size());
    explicit_bzero(computed, sizeof computed);
    return match;
}

} // namespace Corvane3D
