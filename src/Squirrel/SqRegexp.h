#pragma once
// Regular expressions with Squirrel's pattern syntax, matched by a backtracking machine whose work is
// bounded: no recursion while matching, a visited-state memo for inputs of reasonable size and a step
// budget beyond it, so that no pattern can hang the process or overflow its stack.

#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Squirrel {

class CSqRegexp {
public:
    struct Range {
        int64_t begin = -1;
        int64_t end = -1;
    };
    enum class eResult { MATCH, NOMATCH, TOO_COMPLEX };

    // Returns false with an error text on a malformed pattern.
    bool Compile(std::string_view pattern, std::string& error);
    // Whole-text match.
    eResult Match(std::string_view text);
    // First match at or after `start`; groups[0] is the whole match.
    eResult Search(std::string_view text, size_t start, std::vector<Range>& groups);
    size_t GroupCount() const { return _ngroups; }

private:
    enum eOp : uint8_t { CHAR, ANY, CLASS, BOL, EOL, WORDB, NWORDB, SPLIT, JMP, SAVE, LOOPMARK, LOOPCHECK, MATCH };
    struct Inst {
        eOp op;
        uint8_t c = 0;
        int32_t x = 0; // target / class index / capture slot / loop register
        int32_t y = 0; // second target of SPLIT
    };
    struct Node;

    struct Frame {
        uint8_t kind; // 0 branch, 1 capture restore, 2 loop restore
        int32_t idx;
        int64_t a;
    };
    eResult Run(std::string_view text, size_t start, bool anchoredEnd, std::vector<int64_t>& caps);

    std::vector<Inst> _prog;
    std::vector<std::bitset<256>> _classes;
    size_t _ngroups = 1;
    size_t _nloops = 0;
    std::vector<uint64_t> _visited;
    std::vector<Frame> _stack;
    std::vector<int64_t> _loops;
    uint64_t _steps = 0; // shared by every start position of one search

    friend class CSqRegexpCompiler;
};

} // namespace Squirrel
