// Malformed sources: every one gives a compile error with its position, never a crash or a hang.

#include "Squirrel/SqStdLib.h"
#include "Squirrel/Squirrel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

struct CCompileResult {
    bool ok = false;
    std::string message;
    SQInteger line = 0;
    SQInteger column = 0;
};

void RecordError(HSQUIRRELVM v, const SQChar* desc, const SQChar*, SQInteger line, SQInteger column) {
    auto* r = static_cast<CCompileResult*>(sq_getforeignptr(v));
    r->message = desc;
    r->line = line;
    r->column = column;
}

class SquirrelCompiler : public ::testing::Test {
protected:
    void SetUp() override {
        v = sq_open(1024);
        sq_setcompilererrorhandler(v, RecordError);
    }
    void TearDown() override { sq_close(v); }

    CCompileResult Compile(const std::string& src) {
        CCompileResult r;
        sq_setforeignptr(v, &r);
        r.ok = SQ_SUCCEEDED(sq_compilebuffer(v, src.data(), static_cast<SQInteger>(src.size()), "case", SQTrue));
        sq_settop(v, 0);
        sq_setforeignptr(v, nullptr);
        return r;
    }

    HSQUIRRELVM v = nullptr;
};

TEST_F(SquirrelCompiler, MalformedSourcesReportTheirErrorAndPosition) {
    struct Case {
        const char* source;
        const char* message;
        SQInteger line;
        SQInteger column;
    };
    const Case cases[] = {
        {"local = 1", "expected 'IDENTIFIER'", 1, 7},
        {"x = ", "expression expected", 1, 5},
        {"\"unterminated", "unfinished string", 1, 14},
        {"\"line\nbreak\"", "newline in a constant", 1, 6},
        {"'ab'", "constant too long", 1, 5},
        {"''", "empty constant", 1, 3},
        {"/* open comment", "missing \"*/\" in comment", 1, 16},
        {"0x", "hexadecimal number expected", 1, 3},
        {"0x12345678123456789", "too many digits for an Hex number", 1, 19},
        {"09", "invalid octal number", 1, 2},
        {"1e", "exponent expected", 1, 3},
        {"12abc", "invalid number", 1, 3},
        {"99999999999999999999", "integer constant too big", 1, 21},
        {"\"\\q\"", "unrecognised escaper char", 1, 3},
        {"\"\\x\"", "hexadecimal number expected", 1, 4},
        {"a $ b", "unexpected character", 1, 3},
        {"break;", "'break' has to be in a loop block", 1, 1},
        {"continue;", "'continue' has to be in a loop block", 1, 1},
        {"local a = 1 local b = 2", "end of statement expected (; or lf)", 1, 13},
        {"function f(a, a) {}", "parameter 'a' declared twice", 1, 16},
        {"function f(a = 1, b) {}", "expected '='", 1, 20},
        {"1 = 2", "can't assign expression", 1, 3},
        {"local x; x <- 1", "can't 'create' a local slot", 1, 10},
        {"foo(1,)", "expression expected, found ')'", 1, 7},
        {"class A { x }", "expected '='", 1, 13},
        {"switch (1) { case 1 }", "expected ':'", 1, 21},
        {"if (1", "expected ')'", 1, 6},
        {"{", "expected '}'", 1, 2},
        {"local a = [1, 2", "expected ']'", 1, 16},
        {"enum E { A = x }", "scalar expected : integer, float, bool or string", 1, 14},
        {"try {} ", "expected 'catch'", 1, 8},
        {"delete 5", "can't delete an expression", 1, 9},
        {"5++", "can't '++' or '--' an expression", 1, 2},
        {"local a = 1\n\n  b = ;\n", "expression expected", 3, 7},
    };
    for (const Case& c : cases) {
        CCompileResult r = Compile(c.source);
        EXPECT_FALSE(r.ok) << c.source;
        EXPECT_EQ(r.message, c.message) << c.source;
        EXPECT_EQ(r.line, c.line) << c.source;
        EXPECT_EQ(r.column, c.column) << c.source;
    }
}

TEST_F(SquirrelCompiler, RandomBytesAndTokenSoupsNeverCrashTheCompiler) {
    uint64_t state = 0x9E3779B97F4A7C15ULL;
    auto next = [&]() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    const std::vector<std::string> vocabulary = {
        "local", "function", "class", "extends", "if", "else", "while", "for", "foreach", "in", "switch", "case",
        "default", "return", "yield", "try", "catch", "throw", "enum", "const", "static", "base", "this", "delete",
        "typeof", "clone", "resume", "{", "}", "(", ")", "[", "]", ";", ",", ".", ":", "::", "=", "<-", "+", "-",
        "*", "/", "%", "++", "--", "==", "<=>", "&&", "||", "!", "?", "@", "...", "</", "/>", "a", "b", "1",
        "2.5", "\"s\"", "'c'", "\n", "constructor", "null", "true",
    };
    int compiled = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string src;
        size_t len = next() % 60;
        if (round % 2 == 0) {
            for (size_t i = 0; i < len; ++i)
                src += static_cast<char>(1 + next() % 255);
        } else {
            for (size_t i = 0; i < len; ++i)
                src += vocabulary[next() % vocabulary.size()] + " ";
        }
        compiled += Compile(src).ok ? 1 : 0;
    }
    SUCCEED() << compiled << " of the random sources happened to compile";
}

} // namespace
