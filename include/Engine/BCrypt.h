#pragma once
// bcrypt in its "2a" form with its Blowfish core: the one-way form in which passwords are kept.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace Corvane3D {
namespace BCrypt {

constexpr size_t SaltBytes = 16;
// "$2a$", two cost digits, "$" and the salt in 22 characters.
constexpr size_t SaltTextLength = 29;
constexpr size_t SaltCharacters = 22;
// 60 characters and the terminating zero.
constexpr size_t OutputSize = 61;
constexpr unsigned MinimumCost = 4;
constexpr unsigned MaximumCost = 31;
// The key schedule consumes this many key bytes; later ones never count.
constexpr size_t KeyScheduleBytes = 72;

// Blowfish's state: four S-boxes followed by the P-array.
struct BlowfishContext {
    uint32_t S[4][256];
    uint32_t P[18];
};

// The standard initial state: the fractional hexadecimal digits of pi.
void Blowfish_initstate(BlowfishContext& context);
// Enciphers one 64-bit block held as two big-endian halves.
void Blowfish_encipher(const BlowfishContext& context, uint32_t& left, uint32_t& right);
// The Blowfish key schedule applied to the current state. The key is taken cyclically with its
// full length; an empty key counts as zero bytes.
void Blowfish_expand0state(BlowfishContext& context, const uint8_t* key, size_t keyLength);
// The salted schedule of the expensive key setup: the data is also mixed in cyclically.
void Blowfish_expandstate(BlowfishContext& context, const uint8_t* data, size_t dataLength, const uint8_t* key,
                          size_t keyLength);

// bcrypt's own base 64, most significant bits first, without padding.
std::string EncodeBase64(const uint8_t* data, size_t length);
// Decodes at most `capacity` bytes and stops at the first character outside the alphabet;
// returns the bytes written.
size_t DecodeBase64(std::string_view text, uint8_t* output, size_t capacity);

// The salt text "$2a$<cost>$<22 characters>" for the given bytes; the cost is printed as two digits.
std::string MakeSalt(unsigned cost, const uint8_t (&salt)[SaltBytes]);

// Writes the bcrypt text of `key` under `salt` (a salt text or a whole bcrypt text) into `output`.
// A salt it cannot use, or an output smaller than OutputSize, gives ":" instead.
void bcrypt(const char* key, const char* salt, char* output, size_t outputSize);
std::string bcrypt(const char* key, const char* salt);

} // namespace BCrypt
} // namespace Corvane3D
