#pragma once
// Passwords as the server keeps them: never the text, only its bcrypt form.

#include <cstddef>
#include <string>
#include <utility>

namespace Corvane3D {

// A stored password: a tag and a text. Tag 'b' holds a bcrypt text; tag 0 with no text means
// that there is no password.
class CStoredPassword {
public:
    static constexpr char TagNone = 0;
    static constexpr char TagBCrypt = 'b';
    static constexpr unsigned DefaultCost = 10;
    // Costs for Make are held within this range, so a made password always verifies.
    static constexpr unsigned MinimumCost = 4;
    static constexpr unsigned MaximumCost = 30;

    CStoredPassword() = default;
    // A stored password as it was kept, checked only when used.
    CStoredPassword(char tag, std::string text) : m_tag(tag), m_text(std::move(text)) {}

    // An empty or null text makes no password. Otherwise draws a fresh 16-byte salt (the TLS
    // library's generator, else rand()) and keeps the bcrypt text of `text` under it.
    static CStoredPassword Make(const char* text, unsigned cost = DefaultCost);

    bool IsSet() const { return m_tag != TagNone; }
    char GetTag() const { return m_tag; }
    const std::string& GetText() const { return m_text; }
    // The text's length plus one for the tag, or 0 without a password.
    size_t GetStoredLength() const { return m_tag == TagNone ? 0 : m_text.size() + 1; }

private:
    char m_tag = TagNone;
    std::string m_text;
};

// True only when `password` matches the stored one. Without a stored password, or with a stored
// text of the wrong shape, nothing matches. The comparison takes the same time wherever the
// texts differ.
bool VerifyPassword(const char* password, const CStoredPassword& stored);

} // namespace Corvane3D
