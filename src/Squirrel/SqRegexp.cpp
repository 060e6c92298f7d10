#include "SqRegexp.h"

namespace Squirrel {

namespace {

constexpr size_t kMaxProgram = 20000;
constexpr int kMaxRepeat = 1000;
constexpr int kMaxNesting = 200;
constexpr uint64_t kMaxMemoBits = uint64_t(32) << 20;
constexpr uint64_t kMaxSteps = 20000000;
constexpr size_t kMaxBacktrack = size_t(2) << 20;

bool IsAlpha(int c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsAlnum(int c) { return IsAlpha(c) || IsDigit(c); }
bool IsSpace(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool IsXDigit(int c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsCntrl(int c) { return c < 32 || c == 127; }
bool IsPunct(int c) { return c > 32 && c < 127 && !IsAlnum(c); }
bool IsLower(int c) { return c >= 'a' && c <= 'z'; }
bool IsUpper(int c) { return c >= 'A' && c <= 'Z'; }
bool IsWordChar(int c) { return IsAlnum(c) || c == '_'; }

// Class escapes (\d, \w ...) as a set; false when `c` is not one.
bool EscapeClass(char c, std::bitset<256>& set) {
    bool (*pred)(int) = nullptr;
    bool negate = false;
    switch (c) {
    case 'a': pred = IsAlpha; break;
    case 'A': pred = IsAlpha; negate = true; break;
    case 'w': pred = IsAlnum; break;
    case 'W': pred = IsAlnum; negate = true; break;
    case 's': pred = IsSpace; break;
    case 'S': pred = IsSpace; negate = true; break;
    case 'd': pred = IsDigit; break;
    case 'D': pred = IsDigit; negate = true; break;
    case 'x': pred = IsXDigit; break;
    case 'X': pred = IsXDigit; negate = true; break;
    case 'c': pred = IsCntrl; break;
    case 'C': pred = IsCntrl; negate = true; break;
    case 'p': pred = IsPunct; break;
    case 'P': pred = IsPunct; negate = true; break;
    case 'l': pred = IsLower; break;
    case 'u': pred = IsUpper; break;
    default: return false;
    }
    for (int i = 0; i < 256; ++i)
        if (pred(i) != negate)
            set.set(static_cast<size_t>(i));
    return true;
}

char EscapeChar(char c) {
    switch (c) {
    case 't': return '\t';
    case 'n': return '\n';
    case 'r': return '\r';
    case 'f': return '\f';
    case 'v': return '\v';
    default: return c;
    }
}

} // namespace

struct CSqRegexp::Node {
    enum eKind { EMPTY, CHARN, ANYN, CLASSN, BOLN, EOLN, WORDBN, NWORDBN, CONCAT, ALT, REPEAT, GROUP };
    eKind kind = EMPTY;
    uint8_t c = 0;
    int cls = 0;
    int min = 0;
    int max = 0; // -1: unbounded
    int group = -1;
    std::vector<int> kids;
};

class CSqRegexpCompiler {
public:
    CSqRegexpCompiler(CSqRegexp& re, std::string_view pattern) : _re(re), _p(pattern) {}

    bool Compile(std::string& error) {
        int root = ParseAlt();
        if (_error.empty() && _pos < _p.size())
            _error = _p[_pos] == ')' ? "unexpected ')'" : "unexpected character";
        if (!_error.empty()) {
            error = _error;
            return false;
        }
        _re._prog.clear();
        Emit({CSqRegexp::SAVE, 0, 0, 0});
        EmitNode(root);
        Emit({CSqRegexp::SAVE, 0, 1, 0});
        Emit({CSqRegexp::MATCH, 0, 0, 0});
        if (!_error.empty()) {
            error = _error;
            return false;
        }
        _re._ngroups = static_cast<size_t>(_groups);
        return true;
    }

private:
    using N = CSqRegexp::Node;

    int Add(N n) {
        _nodes.push_back(std::move(n));
        return static_cast<int>(_nodes.size() - 1);
    }
    bool AtEnd() const { return _pos >= _p.size(); }
    char Cur() const { return _p[_pos]; }

    int ParseAlt() {
        if (++_depth > kMaxNesting) {
            _error = "pattern nested too deeply";
            return Add(N{});
        }
        N alt;
        alt.kind = N::ALT;
        alt.kids.push_back(ParseConcat());
        while (_error.empty() && !AtEnd() && Cur() == '|') {
            ++_pos;
            alt.kids.push_back(ParseConcat());
        }
        --_depth;
        if (alt.kids.size() == 1)
            return alt.kids[0];
        return Add(std::move(alt));
    }

    int ParseConcat() {
        N cat;
        cat.kind = N::CONCAT;
        while (_error.empty() && !AtEnd() && Cur() != '|' && Cur() != ')')
            cat.kids.push_back(ParseRepeat());
        return Add(std::move(cat));
    }

    bool ParseNumber(int& out) {
        if (AtEnd() || !IsDigit(Cur()))
            return false;
        out = 0;
        while (!AtEnd() && IsDigit(Cur())) {
            out = out * 10 + (Cur() - '0');
            if (out > kMaxRepeat) {
                _error = "repeat count too large";
                return false;
            }
            ++_pos;
        }
        return true;
    }

    int ParseRepeat() {
        int atom = ParseAtom();
        while (_error.empty() && !AtEnd()) {
            int min, max;
            char c = Cur();
            if (c == '*') {
                min = 0;
                max = -1;
                ++_pos;
            } else if (c == '+') {
                min = 1;
                max = -1;
                ++_pos;
            } else if (c == '?') {
                min = 0;
                max = 1;
                ++_pos;
            } else if (c == '{') {
                ++_pos;
                if (!ParseNumber(min)) {
                    if (_error.empty())
                        _error = "expected number";
                    return atom;
                }
                max = min;
                if (!AtEnd() && Cur() == ',') {
                    ++_pos;
                    if (!AtEnd() && Cur() == '}')
                        max = -1;
                    else if (!ParseNumber(max)) {
                        if (_error.empty())
                            _error = "expected number";
                        return atom;
                    }
                }
                if (AtEnd() || Cur() != '}') {
                    _error = "expected '}'";
                    return atom;
                }
                ++_pos;
                if (max >= 0 && max < min) {
                    _error = "invalid repeat range";
                    return atom;
                }
            } else {
                break;
            }
            N rep;
            rep.kind = N::REPEAT;
            rep.min = min;
            rep.max = max;
            rep.kids.push_back(atom);
            atom = Add(std::move(rep));
        }
        return atom;
    }

    int ParseClass() {
        std::bitset<256> set;
        bool negate = false;
        if (!AtEnd() && Cur() == '^') {
            negate = true;
            ++_pos;
        }
        bool first = true;
        for (;;) {
            if (AtEnd()) {
                _error = "expected ']'";
                return Add(N{});
            }
            char c = Cur();
            if (c == ']' && !first) {
                ++_pos;
                break;
            }
            first = false;
            ++_pos;
            int lo;
            if (c == '\\') {
                if (AtEnd()) {
                    _error = "unexpected end of pattern";
                    return Add(N{});
                }
                char e = Cur();
                ++_pos;
                if (EscapeClass(e, set))
                    continue;
                lo = static_cast<unsigned char>(EscapeChar(e));
            } else {
                lo = static_cast<unsigned char>(c);
            }
            int hi = lo;
            if (_pos + 1 < _p.size() && Cur() == '-' && _p[_pos + 1] != ']') {
                ++_pos;
                char h = Cur();
                ++_pos;
                if (h == '\\') {
                    if (AtEnd()) {
                        _error = "unexpected end of pattern";
                        return Add(N{});
                    }
                    h = EscapeChar(Cur());
                    ++_pos;
                }
                hi = static_cast<unsigned char>(h);
                if (hi < lo) {
                    _error = "invalid range";
                    return Add(N{});
                }
            }
            for (int i = lo; i <= hi; ++i)
                set.set(static_cast<size_t>(i));
        }
        if (negate)
            set.flip();
        N n;
        n.kind = N::CLASSN;
        n.cls = static_cast<int>(_re._classes.size());
        _re._classes.push_back(set);
        return Add(std::move(n));
    }

    int ParseAtom() {
        char c = Cur();
        N n;
        switch (c) {
        case '(': {
            ++_pos;
            int group = -1;
            if (_pos + 1 < _p.size() && Cur() == '?' && _p[_pos + 1] == ':') {
                _pos += 2;
            } else {
                group = _groups++;
            }
            int inner = ParseAlt();
            if (!_error.empty())
                return inner;
            if (AtEnd() || Cur() != ')') {
                _error = "expected ')'";
                return inner;
            }
            ++_pos;
            n.kind = N::GROUP;
            n.group = group;
            n.kids.push_back(inner);
            return Add(std::move(n));
        }
        case '[':
            ++_pos;
            return ParseClass();
        case '.':
            ++_pos;
            n.kind = N::ANYN;
            return Add(std::move(n));
        case '^':
            ++_pos;
            n.kind = N::BOLN;
            return Add(std::move(n));
        case '$':
            ++_pos;
            n.kind = N::EOLN;
            return Add(std::move(n));
        case '*':
        case '+':
        case '?':
        case '{':
            _error = "unexpected quantifier";
            ++_pos;
            return Add(N{});
        case '\\': {
            ++_pos;
            if (AtEnd()) {
                _error = "unexpected end of pattern";
                return Add(N{});
            }
            char e = Cur();
            ++_pos;
            if (e == 'b' || e == 'B') {
                n.kind = e == 'b' ? N::WORDBN : N::NWORDBN;
                return Add(std::move(n));
            }
            std::bitset<256> set;
            if (EscapeClass(e, set)) {
                n.kind = N::CLASSN;
                n.cls = static_cast<int>(_re._classes.size());
                _re._classes.push_back(set);
                return Add(std::move(n));
            }
            n.kind = N::CHARN;
            n.c = static_cast<uint8_t>(EscapeChar(e));
            return Add(std::move(n));
        }
        default:
            ++_pos;
            n.kind = N::CHARN;
            n.c = static_cast<uint8_t>(c);
            return Add(std::move(n));
        }
    }

    int Emit(CSqRegexp::Inst i) {
        if (_re._prog.size() >= kMaxProgram) {
            if (_error.empty())
                _error = "pattern too large";
            return static_cast<int>(_re._prog.size()) - 1;
        }
        _re._prog.push_back(i);
        return static_cast<int>(_re._prog.size() - 1);
    }
    int Here() const { return static_cast<int>(_re._prog.size()); }
    void Patch(int at, int x) {
        if (at >= 0 && static_cast<size_t>(at) < _re._prog.size())
            _re._prog[static_cast<size_t>(at)].x = x;
    }
    void PatchY(int at, int y) {
        if (at >= 0 && static_cast<size_t>(at) < _re._prog.size())
            _re._prog[static_cast<size_t>(at)].y = y;
    }

    void EmitNode(int idx) {
        if (!_error.empty())
            return;
        const N& n = _nodes[static_cast<size_t>(idx)];
        switch (n.kind) {
        case N::EMPTY: return;
        case N::CHARN: Emit({CSqRegexp::CHAR, n.c, 0, 0}); return;
        case N::ANYN: Emit({CSqRegexp::ANY, 0, 0, 0}); return;
        case N::CLASSN: Emit({CSqRegexp::CLASS, 0, n.cls, 0}); return;
        case N::BOLN: Emit({CSqRegexp::BOL, 0, 0, 0}); return;
        case N::EOLN: Emit({CSqRegexp::EOL, 0, 0, 0}); return;
        case N::WORDBN: Emit({CSqRegexp::WORDB, 0, 0, 0}); return;
        case N::NWORDBN: Emit({CSqRegexp::NWORDB, 0, 0, 0}); return;
        case N::CONCAT:
            for (int k : n.kids)
                EmitNode(k);
            return;
        case N::GROUP:
            if (n.group >= 0)
                Emit({CSqRegexp::SAVE, 0, n.group * 2, 0});
            EmitNode(n.kids[0]);
            if (n.group >= 0)
                Emit({CSqRegexp::SAVE, 0, n.group * 2 + 1, 0});
            return;
        case N::ALT: {
            std::vector<int> ends;
            for (size_t i = 0; i < n.kids.size(); ++i) {
                if (i + 1 < n.kids.size()) {
                    int split = Emit({CSqRegexp::SPLIT, 0, 0, 0});
                    Patch(split, Here());
                    EmitNode(n.kids[i]);
                    ends.push_back(Emit({CSqRegexp::JMP, 0, 0, 0}));
                    PatchY(split, Here());
                } else {
                    EmitNode(n.kids[i]);
                }
            }
            for (int e : ends)
                Patch(e, Here());
            return;
        }
        case N::REPEAT: {
            int body = n.kids[0];
            for (int i = 0; i < n.min && _error.empty(); ++i)
                EmitNode(body);
            if (n.max < 0) {
                int reg = static_cast<int>(_re._nloops++);
                int loop = Emit({CSqRegexp::SPLIT, 0, 0, 0});
                Patch(loop, Here());
                Emit({CSqRegexp::LOOPMARK, 0, reg, 0});
                EmitNode(body);
                Emit({CSqRegexp::LOOPCHECK, 0, reg, 0});
                int back = Emit({CSqRegexp::JMP, 0, 0, 0});
                Patch(back, loop);
                PatchY(loop, Here());
                return;
            }
            std::vector<int> splits;
            for (int i = n.min; i < n.max && _error.empty(); ++i) {
                int split = Emit({CSqRegexp::SPLIT, 0, 0, 0});
                Patch(split, Here());
                splits.push_back(split);
                EmitNode(body);
            }
            for (int s : splits)
                PatchY(s, Here());
            return;
        }
        }
    }

    CSqRegexp& _re;
    std::string_view _p;
    size_t _pos = 0;
    int _depth = 0;
    int _groups = 1;
    std::vector<N> _nodes;
    std::string _error;
};

bool CSqRegexp::Compile(std::string_view pattern, std::string& error) {
    _classes.clear();
    _nloops = 0;
    CSqRegexpCompiler c(*this, pattern);
    return c.Compile(error);
}

CSqRegexp::eResult CSqRegexp::Run(std::string_view text, size_t start, bool anchoredEnd,
                                  std::vector<int64_t>& caps) {
    const size_t len = text.size();
    const uint64_t width = len + 1;
    const bool memo = static_cast<uint64_t>(_prog.size()) * width <= kMaxMemoBits;
    if (memo && _visited.empty())
        _visited.assign(static_cast<size_t>((_prog.size() * width + 63) / 64), 0);
    caps.assign(_ngroups * 2, -1);
    std::vector<int64_t>& loops = _loops;
    loops.assign(_nloops, -1);
    std::vector<Frame>& stack = _stack;
    stack.clear();
    size_t pc = 0;
    size_t pos = start;
    for (;;) {
        bool ok = true;
        if (++_steps > kMaxSteps || stack.size() > kMaxBacktrack)
            return eResult::TOO_COMPLEX;
        if (memo) {
            uint64_t bit = static_cast<uint64_t>(pc) * width + pos;
            uint64_t& word = _visited[static_cast<size_t>(bit >> 6)];
            uint64_t mask = uint64_t(1) << (bit & 63);
            if (word & mask)
                ok = false;
            else
                word |= mask;
        }
        if (ok) {
            const Inst& in = _prog[pc];
            switch (in.op) {
            case CHAR:
                ok = pos < len && static_cast<uint8_t>(text[pos]) == in.c;
                ++pc;
                ++pos;
                break;
            case ANY:
                ok = pos < len;
                ++pc;
                ++pos;
                break;
            case CLASS:
                ok = pos < len && _classes[static_cast<size_t>(in.x)].test(static_cast<uint8_t>(text[pos]));
                ++pc;
                ++pos;
                break;
            case BOL:
                ok = pos == 0;
                ++pc;
                break;
            case EOL:
                ok = pos == len;
                ++pc;
                break;
            case WORDB:
            case NWORDB: {
                bool before = pos > 0 && IsWordChar(static_cast<uint8_t>(text[pos - 1]));
                bool after = pos < len && IsWordChar(static_cast<uint8_t>(text[pos]));
                ok = (before != after) == (in.op == WORDB);
                ++pc;
                break;
            }
            case SPLIT:
                stack.push_back({0, in.y, static_cast<int64_t>(pos)});
                pc = static_cast<size_t>(in.x);
                break;
            case JMP:
                pc = static_cast<size_t>(in.x);
                break;
            case SAVE:
                stack.push_back({1, in.x, caps[static_cast<size_t>(in.x)]});
                caps[static_cast<size_t>(in.x)] = static_cast<int64_t>(pos);
                ++pc;
                break;
            case LOOPMARK:
                if (!memo) {
                    stack.push_back({2, in.x, loops[static_cast<size_t>(in.x)]});
                    loops[static_cast<size_t>(in.x)] = static_cast<int64_t>(pos);
                }
                ++pc;
                break;
            case LOOPCHECK:
                // an iteration that consumed nothing ends the loop (the memo does this when it is on)
                ok = memo || loops[static_cast<size_t>(in.x)] != static_cast<int64_t>(pos);
                ++pc;
                break;
            case MATCH:
                if (!anchoredEnd || pos == len)
                    return eResult::MATCH;
                ok = false;
                break;
            }
        }
        if (ok)
            continue;
        bool resumed = false;
        while (!stack.empty()) {
            Frame f = stack.back();
            stack.pop_back();
            if (f.kind == 1) {
                caps[static_cast<size_t>(f.idx)] = f.a;
            } else if (f.kind == 2) {
                loops[static_cast<size_t>(f.idx)] = f.a;
            } else {
                pc = static_cast<size_t>(f.idx);
                pos = static_cast<size_t>(f.a);
                resumed = true;
                break;
            }
        }
        if (!resumed)
            return eResult::NOMATCH;
    }
}

CSqRegexp::eResult CSqRegexp::Match(std::string_view text) {
    _visited.clear();
    _steps = 0;
    std::vector<int64_t> caps;
    eResult r = Run(text, 0, true, caps);
    _visited.clear();
    return r;
}

CSqRegexp::eResult CSqRegexp::Search(std::string_view text, size_t start, std::vector<Range>& groups) {
    _visited.clear();
    _steps = 0;
    std::vector<int64_t> caps;
    eResult r = eResult::NOMATCH;
    for (size_t s = start; s <= text.size(); ++s) {
        r = Run(text, s, false, caps);
        if (r != eResult::NOMATCH)
            break;
    }
    _visited.clear();
    _stack.clear();
    if (r != eResult::MATCH)
        return r;
    groups.assign(_ngroups, Range{});
    for (size_t g = 0; g < _ngroups; ++g) {
        if (caps[g * 2] >= 0 && caps[g * 2 + 1] >= 0) {
            groups[g].begin = caps[g * 2];
            groups[g].end = caps[g * 2 + 1];
        }
    }
    return r;
}

} // namespace Squirrel
