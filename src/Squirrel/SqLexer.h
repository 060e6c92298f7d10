#pragma once
// Tokeniser for Squirrel source. Single characters are their own token codes; longer operators, keywords
// and literals use codes from 256 up.

#include "Squirrel/Squirrel.h"

#include <string>

namespace Squirrel {

enum eToken : int {
    TK_EOF = 0,
    TK_IDENTIFIER = 256,
    TK_INTEGER,
    TK_FLOAT,
    TK_STRING_LITERAL,
    // keywords
    TK_WHILE,
    TK_DO,
    TK_IF,
    TK_ELSE,
    TK_BREAK,
    TK_CONTINUE,
    TK_RETURN,
    TK_NULL,
    TK_FUNCTION,
    TK_LOCAL,
    TK_FOR,
    TK_FOREACH,
    TK_IN,
    TK_TYPEOF,
    TK_BASE,
    TK_DELETE,
    TK_TRY,
    TK_CATCH,
    TK_THROW,
    TK_CLONE,
    TK_YIELD,
    TK_RESUME,
    TK_SWITCH,
    TK_CASE,
    TK_DEFAULT,
    TK_THIS,
    TK_CLASS,
    TK_EXTENDS,
    TK_CONSTRUCTOR,
    TK_INSTANCEOF,
    TK_TRUE,
    TK_FALSE,
    TK_STATIC,
    TK_ENUM,
    TK_CONST,
    TK___LINE__,
    TK___FILE__,
    // operators
    TK_EQ,
    TK_NE,
    TK_LE,
    TK_GE,
    TK_3WAYSCMP,
    TK_AND,
    TK_OR,
    TK_NEWSLOT,
    TK_PLUSEQ,
    TK_MINUSEQ,
    TK_MULEQ,
    TK_DIVEQ,
    TK_MODEQ,
    TK_PLUSPLUS,
    TK_MINUSMINUS,
    TK_SHIFTL,
    TK_SHIFTR,
    TK_USHIFTR,
    TK_DOUBLE_COLON,
    TK_VARPARAMS,
    TK_ATTR_OPEN,
    TK_ATTR_CLOSE,
};

struct SQToken {
    int type = TK_EOF;
    std::string text; // identifier or string literal
    SQInteger ival = 0;
    SQFloat fval = 0;
    int line = 1;
    int col = 1;
    bool newlineBefore = false;
};

class CSqLexer {
public:
    // The source is already read; a character the reader refused is reported at its position.
    CSqLexer(const std::string& src, int badCharPos);
    // Returns false with an error text and position on a malformed token.
    bool Next(SQToken& tok);
    const std::string& Error() const { return _error; }
    int ErrorLine() const { return _errLine; }
    int ErrorCol() const { return _errCol; }
    static std::string TokenText(int tok);

private:
    int Cur() const { return _pos < _src.size() ? static_cast<unsigned char>(_src[_pos]) : 0; }
    int Peek(size_t n = 1) const {
        return _pos + n < _src.size() ? static_cast<unsigned char>(_src[_pos + n]) : 0;
    }
    void Advance();
    bool Fail(const char* msg);
    bool ReadString(SQToken& tok, int delim, bool verbatim);
    bool ReadNumber(SQToken& tok);
    bool ReadEscape(std::string& out);

    const std::string& _src;
    size_t _pos = 0;
    size_t _badCharPos;
    int _line = 1;
    int _col = 1;
    std::string _error;
    int _errLine = 0;
    int _errCol = 0;
};

} // namespace Squirrel
