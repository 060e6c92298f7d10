// Outside input to the string library: random patterns, texts and format strings give results or errors,
// never crashes, hangs or reads out of bounds.

#include "Squirrel/SqStdLib.h"
#include "Squirrel/Squirrel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

class SquirrelStdLib : public ::testing::Test {
protected:
    void SetUp() override {
        v = sq_open(1024);
        sq_pushroottable(v);
        sqstd_register_bloblib(v);
        sqstd_register_stringlib(v);
        sq_pop(v, 1);
    }
    void TearDown() override { sq_close(v); }

    uint64_t Next() {
        _state ^= _state << 13;
        _state ^= _state >> 7;
        _state ^= _state << 17;
        return _state;
    }
    std::string RandomText(const char* alphabet, size_t maxLen) {
        std::string s;
        size_t n = Next() % (maxLen + 1);
        size_t k = std::char_traits<char>::length(alphabet);
        for (size_t i = 0; i < n; ++i)
            s += alphabet[Next() % k];
        return s;
    }
    // Calls the global `name` with string arguments; returns whether it succeeded.
    bool CallGlobal(const char* name, std::initializer_list<std::string> args) {
        SQInteger top = sq_gettop(v);
        sq_pushroottable(v);
        sq_pushstring(v, name, -1);
        sq_get(v, -2);
        sq_pushroottable(v);
        for (const auto& a : args)
            sq_pushstring(v, a.data(), static_cast<SQInteger>(a.size()));
        bool ok = SQ_SUCCEEDED(sq_call(v, static_cast<SQInteger>(args.size()) + 1, SQTrue, SQFalse));
        sq_settop(v, top);
        return ok;
    }
    // Makes a regexp from `pattern` and searches `text`; the result type is null, table or an error.
    std::string Search(const std::string& pattern, const std::string& text) {
        SQInteger top = sq_gettop(v);
        sq_pushroottable(v);
        sq_pushstring(v, "regexp", -1);
        sq_get(v, -2);
        sq_pushroottable(v);
        sq_pushstring(v, pattern.data(), static_cast<SQInteger>(pattern.size()));
        std::string result;
        if (SQ_FAILED(sq_call(v, 2, SQTrue, SQFalse))) {
            result = "bad pattern";
        } else {
            sq_pushstring(v, "search", -1);
            sq_get(v, -2);
            sq_push(v, -2);
            sq_pushstring(v, text.data(), static_cast<SQInteger>(text.size()));
            if (SQ_FAILED(sq_call(v, 2, SQTrue, SQFalse))) {
                sq_getlasterror(v);
                const SQChar* e = nullptr;
                sq_getstring(v, -1, &e);
                result = e ? e : "error";
            } else {
                result = sq_gettype(v, -1) == OT_NULL ? "null" : "match";
            }
        }
        sq_settop(v, top);
        return result;
    }

    HSQUIRRELVM v = nullptr;
    uint64_t _state = 0x2545F4914F6CDD1DULL;
};

TEST_F(SquirrelStdLib, RandomPatternsAndTextsNeverCrashTheMatcher) {
    for (int round = 0; round < 3000; ++round) {
        std::string pattern = RandomText("ab()[]{}*+?|^$\\.-,0123dwsbB:", 24);
        std::string text = RandomText("aabb01 -.", 40);
        std::string r = Search(pattern, text);
        EXPECT_TRUE(r == "bad pattern" || r == "null" || r == "match" || r == "regexp too complex for this text")
            << pattern << " on " << text << ": " << r;
    }
}

TEST_F(SquirrelStdLib, BacktrackingIsBoundedOnInputsTooLargeForTheMemo) {
    // a program of a few dozen instructions on a megabyte of text is past the memo's size
    std::string text(1 << 20, 'a');
    EXPECT_EQ(Search("(a|a|a|a|a|a|a|a|a|a|a|a)*(b|c|d|e|f|g|h|i|j)", text), "regexp too complex for this text");
    EXPECT_EQ(Search("a", text), "match");
}

TEST_F(SquirrelStdLib, RandomFormatStringsWithMismatchedArgumentsGiveErrorsNotCrashes) {
    for (int round = 0; round < 3000; ++round) {
        std::string fmt = RandomText("%-+ #0123456789.dixXoucfeEgGsq%ab", 16);
        std::string arg = RandomText("abc123", 6);
        CallGlobal("format", {fmt, arg});
        CallGlobal("format", {fmt});
    }
    EXPECT_FALSE(CallGlobal("format", {"%s %s", "only one"}));
    EXPECT_TRUE(CallGlobal("format", {"%99s|%.99s", "a", "b"}));
    EXPECT_FALSE(CallGlobal("format", {"%100s", "a"}));
}

TEST_F(SquirrelStdLib, SplitAndStripHandleEdgeTexts) {
    EXPECT_TRUE(CallGlobal("split", {"", ","}));
    EXPECT_TRUE(CallGlobal("split", {",,,", ","}));
    EXPECT_TRUE(CallGlobal("split", {"abc", ""}));
    EXPECT_TRUE(CallGlobal("strip", {""}));
    EXPECT_TRUE(CallGlobal("strip", {"   "}));
    EXPECT_TRUE(CallGlobal("escape", {std::string("\0\xff\x80", 3)}));
    EXPECT_TRUE(CallGlobal("startswith", {"", ""}));
    EXPECT_TRUE(CallGlobal("endswith", {"a", "abc"}));
}

} // namespace
