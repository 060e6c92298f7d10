#include "SqLexer.h"
#include "SqObject.h"

#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace Squirrel {

namespace {

const std::unordered_map<std::string, int>& Keywords() {
    static const std::unordered_map<std::string, int> kw = {
        {"while", TK_WHILE},
        {"do", TK_DO},
        {"if", TK_IF},
        {"else", TK_ELSE},
        {"break", TK_BREAK},
        {"continue", TK_CONTINUE},
        {"return", TK_RETURN},
        {"null", TK_NULL},
        {"function", TK_FUNCTION},
        {"local", TK_LOCAL},
        {"for", TK_FOR},
        {"foreach", TK_FOREACH},
        {"in", TK_IN},
        {"typeof", TK_TYPEOF},
        {"base", TK_BASE},
        {"delete", TK_DELETE},
        {"try", TK_TRY},
        {"catch", TK_CATCH},
        {"throw", TK_THROW},
        {"clone", TK_CLONE},
        {"yield", TK_YIELD},
        {"resume", TK_RESUME},
        {"switch", TK_SWITCH},
        {"case", TK_CASE},
        {"default", TK_DEFAULT},
        {"this", TK_THIS},
        {"class", TK_CLASS},
        {"extends", TK_EXTENDS},
        {"constructor", TK_CONSTRUCTOR},
        {"instanceof", TK_INSTANCEOF},
        {"true", TK_TRUE},
        {"false", TK_FALSE},
        {"static", TK_STATIC},
        {"enum", TK_ENUM},
        {"const", TK_CONST},
        {"__LINE__", TK___LINE__},
        {"__FILE__", TK___FILE__},
    };
    return kw;
}

bool IsIdentStart(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsIdentChar(int c) { return IsIdentStart(c) || IsDigit(c); }
int HexValue(int c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | ((cp >> 18) & 0x07));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

CSqLexer::CSqLexer(const std::string& src, int badCharPos)
    : _src(src), _badCharPos(badCharPos < 0 ? std::string::npos : static_cast<size_t>(badCharPos)) {}

std::string CSqLexer::TokenText(int tok) {
    switch (tok) {
    case TK_EOF: return "end of script";
    case TK_IDENTIFIER: return "IDENTIFIER";
    case TK_INTEGER: return "INTEGER";
    case TK_FLOAT: return "FLOAT";
    case TK_STRING_LITERAL: return "STRING_LITERAL";
    case TK_EQ: return "==";
    case TK_NE: return "!=";
    case TK_LE: return "<=";
    case TK_GE: return ">=";
    case TK_3WAYSCMP: return "<=>";
    case TK_AND: return "&&";
    case TK_OR: return "||";
    case TK_NEWSLOT: return "<-";
    case TK_PLUSEQ: return "+=";
    case TK_MINUSEQ: return "-=";
    case TK_MULEQ: return "*=";
    case TK_DIVEQ: return "/=";
    case TK_MODEQ: return "%=";
    case TK_PLUSPLUS: return "++";
    case TK_MINUSMINUS: return "--";
    case TK_SHIFTL: return "<<";
    case TK_SHIFTR: return ">>";
    case TK_USHIFTR: return ">>>";
    case TK_DOUBLE_COLON: return "::";
    case TK_VARPARAMS: return "...";
    case TK_ATTR_OPEN: return "</";
    case TK_ATTR_CLOSE: return "/>";
    default: break;
    }
    for (const auto& [name, code] : Keywords())
        if (code == tok)
            return name;
    return std::string(1, static_cast<char>(tok));
}

void CSqLexer::Advance() {
    if (_pos >= _src.size())
        return;
    if (_src[_pos] == '\n') {
        ++_line;
        _col = 1;
    } else {
        ++_col;
    }
    ++_pos;
}

bool CSqLexer::Fail(const char* msg) {
    _error = msg;
    _errLine = _line;
    _errCol = _col;
    return false;
}

bool CSqLexer::Next(SQToken& tok) {
    tok.newlineBefore = false;
    tok.text.clear();
    for (;;) {
        int c = Cur();
        if (c == '\n') {
            tok.newlineBefore = true;
            Advance();
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v') {
            Advance();
        } else if (c == '#' || (c == '/' && Peek() == '/')) {
            while (Cur() != '\n' && Cur() != 0)
                Advance();
        } else if (c == '/' && Peek() == '*') {
            Advance();
            Advance();
            for (;;) {
                if (Cur() == 0) {
                    if (_pos < _src.size())
                        Advance();
                    else if (_badCharPos != std::string::npos)
                        return Fail("Invalid character");
                    else
                        return Fail("missing \"*/\" in comment");
                } else if (Cur() == '*' && Peek() == '/') {
                    Advance();
                    Advance();
                    break;
                } else {
                    if (Cur() == '\n')
                        tok.newlineBefore = true;
                    Advance();
                }
            }
        } else if (c == 0 && _pos < _src.size()) {
            return Fail("Invalid character");
        } else {
            break;
        }
    }
    tok.line = _line;
    tok.col = _col;
    int c = Cur();
    if (_pos >= _src.size()) {
        if (_badCharPos != std::string::npos)
            return Fail("Invalid character");
        tok.type = TK_EOF;
        return true;
    }
    if (IsIdentStart(c)) {
        size_t start = _pos;
        while (IsIdentChar(Cur()))
            Advance();
        tok.text.assign(_src, start, _pos - start);
        auto it = Keywords().find(tok.text);
        tok.type = it != Keywords().end() ? it->second : TK_IDENTIFIER;
        return true;
    }
    if (IsDigit(c))
        return ReadNumber(tok);
    auto single = [&](int t) {
        Advance();
        tok.type = t;
        return true;
    };
    auto two = [&](int t) {
        Advance();
        Advance();
        tok.type = t;
        return true;
    };
    switch (c) {
    case '"':
        return ReadString(tok, '"', false);
    case '\'':
        return ReadString(tok, '\'', false);
    case '@':
        if (Peek() == '"') {
            Advance();
            return ReadString(tok, '"', true);
        }
        return single('@');
    case '=':
        return Peek() == '=' ? two(TK_EQ) : single('=');
    case '<':
        if (Peek() == '=') {
            if (Peek(2) == '>') {
                Advance();
                return two(TK_3WAYSCMP);
            }
            return two(TK_LE);
        }
        if (Peek() == '-')
            return two(TK_NEWSLOT);
        if (Peek() == '<')
            return two(TK_SHIFTL);
        if (Peek() == '/')
            return two(TK_ATTR_OPEN);
        return single('<');
    case '>':
        if (Peek() == '=')
            return two(TK_GE);
        if (Peek() == '>') {
            if (Peek(2) == '>') {
                Advance();
                return two(TK_USHIFTR);
            }
            return two(TK_SHIFTR);
        }
        return single('>');
    case '!':
        return Peek() == '=' ? two(TK_NE) : single('!');
    case '/':
        if (Peek() == '>')
            return two(TK_ATTR_CLOSE);
        return Peek() == '=' ? two(TK_DIVEQ) : single('/');
    case '*':
        return Peek() == '=' ? two(TK_MULEQ) : single('*');
    case '%':
        return Peek() == '=' ? two(TK_MODEQ) : single('%');
    case '+':
        if (Peek() == '=')
            return two(TK_PLUSEQ);
        return Peek() == '+' ? two(TK_PLUSPLUS) : single('+');
    case '-':
        if (Peek() == '=')
            return two(TK_MINUSEQ);
        return Peek() == '-' ? two(TK_MINUSMINUS) : single('-');
    case '&':
        return Peek() == '&' ? two(TK_AND) : single('&');
    case '|':
        return Peek() == '|' ? two(TK_OR) : single('|');
    case ':':
        return Peek() == ':' ? two(TK_DOUBLE_COLON) : single(':');
    case '.':
        if (Peek() == '.' && Peek(2) == '.') {
            Advance();
            return two(TK_VARPARAMS);
        }
        return single('.');
    case '{': case '}': case '(': case ')': case '[': case ']': case ';': case ',': case '?': case '^':
    case '~':
        return single(c);
    default:
        return Fail("unexpected character");
    }
}

bool CSqLexer::ReadEscape(std::string& out) {
    Advance(); // the backslash
    int c = Cur();
    if (_pos >= _src.size())
        return Fail(_badCharPos != std::string::npos ? "Invalid character" : "unfinished string");
    switch (c) {
    case 't': out += '\t'; break;
    case 'a': out += '\a'; break;
    case 'b': out += '\b'; break;
    case 'n': out += '\n'; break;
    case 'r': out += '\r'; break;
    case 'v': out += '\v'; break;
    case 'f': out += '\f'; break;
    case '0': out += '\0'; break;
    case '\\': out += '\\'; break;
    case '"': out += '"'; break;
    case '\'': out += '\''; break;
    case 'x': {
        Advance();
        int value = 0, n = 0;
        while (n < 2 && HexValue(Cur()) >= 0) {
            value = value * 16 + HexValue(Cur());
            Advance();
            ++n;
        }
        if (n == 0)
            return Fail("hexadecimal number expected");
        out += static_cast<char>(value);
        return true;
    }
    case 'u':
    case 'U': {
        int maxDigits = c == 'u' ? 4 : 8;
        Advance();
        uint32_t value = 0;
        int n = 0;
        while (n < maxDigits && HexValue(Cur()) >= 0) {
            value = value * 16 + static_cast<uint32_t>(HexValue(Cur()));
            Advance();
            ++n;
        }
        if (n == 0)
            return Fail("hexadecimal number expected");
        if (value > 0x10FFFF)
            return Fail("invalid unicode code point");
        AppendUtf8(out, value);
        return true;
    }
    default:
        return Fail("unrecognised escaper char");
    }
    Advance();
    return true;
}

bool CSqLexer::ReadString(SQToken& tok, int delim, bool verbatim) {
    Advance(); // opening quote
    std::string value;
    for (;;) {
        int c = Cur();
        if (_pos >= _src.size())
            return Fail(_badCharPos != std::string::npos ? "Invalid character" : "unfinished string");
        if (c == delim) {
            if (verbatim && Peek() == delim) {
                value += static_cast<char>(delim);
                Advance();
                Advance();
                continue;
            }
            Advance();
            break;
        }
        if (c == '\n' && !verbatim)
            return Fail("newline in a constant");
        if (c == '\\' && !verbatim) {
            if (!ReadEscape(value))
                return false;
            continue;
        }
        value += static_cast<char>(c);
        Advance();
    }
    if (delim == '\'') {
        if (value.empty())
            return Fail("empty constant");
        if (value.size() > 1)
            return Fail("constant too long");
        tok.type = TK_INTEGER;
        tok.ival = static_cast<unsigned char>(value[0]);
        return true;
    }
    tok.type = TK_STRING_LITERAL;
    tok.text = std::move(value);
    return true;
}

bool CSqLexer::ReadNumber(SQToken& tok) {
    size_t start = _pos;
    if (Cur() == '0' && (Peek() == 'x' || Peek() == 'X')) {
        Advance();
        Advance();
        uint64_t value = 0;
        int n = 0;
        while (HexValue(Cur()) >= 0) {
            if (++n > 16)
                return Fail("too many digits for an Hex number");
            value = value * 16 + static_cast<uint64_t>(HexValue(Cur()));
            Advance();
        }
        if (n == 0)
            return Fail("hexadecimal number expected");
        if (IsIdentChar(Cur()))
            return Fail("invalid number");
        tok.type = TK_INTEGER;
        tok.ival = static_cast<SQInteger>(value);
        return true;
    }
    if (Cur() == '0' && IsDigit(Peek())) {
        Advance();
        uint64_t value = 0;
        while (IsDigit(Cur())) {
            if (Cur() > '7')
                return Fail("invalid octal number");
            if (value > (UINT64_MAX >> 3))
                return Fail("integer constant too big");
            value = value * 8 + static_cast<uint64_t>(Cur() - '0');
            Advance();
        }
        if (IsIdentChar(Cur()))
            return Fail("invalid number");
        tok.type = TK_INTEGER;
        tok.ival = static_cast<SQInteger>(value);
        return true;
    }
    bool isFloat = false;
    while (IsDigit(Cur()))
        Advance();
    if (Cur() == '.' && IsDigit(Peek())) {
        isFloat = true;
        Advance();
        while (IsDigit(Cur()))
            Advance();
    }
    if (Cur() == 'e' || Cur() == 'E') {
        isFloat = true;
        Advance();
        if (Cur() == '+' || Cur() == '-')
            Advance();
        if (!IsDigit(Cur()))
            return Fail("exponent expected");
        while (IsDigit(Cur()))
            Advance();
    }
    if (IsIdentChar(Cur()))
        return Fail("invalid number");
    std::string text(_src, start, _pos - start);
    if (isFloat) {
        tok.type = TK_FLOAT;
        tok.fval = DoubleToFloat(std::strtod(text.c_str(), nullptr));
        return true;
    }
    uint64_t value = 0;
    for (char ch : text) {
        uint64_t digit = static_cast<uint64_t>(ch - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return Fail("integer constant too big");
        value = value * 10 + digit;
    }
    tok.type = TK_INTEGER;
    tok.ival = static_cast<SQInteger>(value); // 9223372036854775808 wraps so that -9223372036854775808 works
    return true;
}

} // namespace Squirrel
