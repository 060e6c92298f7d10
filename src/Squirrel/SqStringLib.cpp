// The string library: format, the strip family, split, escape, startswith/endswith and regexp.

#include "SqLibUtil.h"
#include "SqRegexp.h"
#include "Squirrel/SqStdLib.h"

#include <cstdio>
#include <memory>

namespace Squirrel {

namespace {

constexpr size_t kMaxFormatDigits = 2; // digits of width and precision

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Formats with one validated conversion at a time, so that no argument ever meets a mismatched specifier.
bool Format(HSQUIRRELVM v, SQInteger fmtidx, std::string& out) {
    std::string_view fmt = AsString(Arg(v, fmtidx))->View();
    SQInteger nparam = fmtidx + 1;
    SQInteger top = ArgCount(v);
    out.clear();
    for (size_t i = 0; i < fmt.size();) {
        char c = fmt[i];
        if (c != '%') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 < fmt.size() && fmt[i + 1] == '%') {
            out += '%';
            i += 2;
            continue;
        }
        std::string directive = "%";
        ++i;
        while (i < fmt.size() && (fmt[i] == '-' || fmt[i] == '+' || fmt[i] == ' ' || fmt[i] == '#' || fmt[i] == '0'))
            directive += fmt[i++];
        size_t digits = 0;
        while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
            directive += fmt[i++];
            if (++digits > kMaxFormatDigits) {
                sq_throwerror(v, "width format too long");
                return false;
            }
        }
        if (i < fmt.size() && fmt[i] == '.') {
            directive += fmt[i++];
            digits = 0;
            while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
                directive += fmt[i++];
                if (++digits > kMaxFormatDigits) {
                    sq_throwerror(v, "precision format too long");
                    return false;
                }
            }
        }
        if (i >= fmt.size()) {
            sq_throwerror(v, "invalid format");
            return false;
        }
        char conv = fmt[i++];
        if (nparam > top) {
            sq_throwerror(v, "not enough parameters for the given format string");
            return false;
        }
        const SQObjectPtr& arg = Arg(v, nparam++);
        int n = 0;
        std::string piece;
        auto emit = [&](auto value) {
            n = snprintf(nullptr, 0, directive.c_str(), value);
            if (n < 0)
                return false;
            piece.resize(static_cast<size_t>(n) + 1);
            snprintf(piece.data(), piece.size(), directive.c_str(), value);
            piece.resize(static_cast<size_t>(n));
            return true;
        };
        bool ok;
        switch (conv) {
        case 'd':
        case 'i':
            if (!IsNumeric(arg)) {
                sq_throwerror(v, "integer expected for the specified format");
                return false;
            }
            directive += "lld";
            ok = emit(static_cast<long long>(ToInteger(arg)));
            break;
        case 'o':
        case 'u':
        case 'x':
        case 'X':
            if (!IsNumeric(arg)) {
                sq_throwerror(v, "integer expected for the specified format");
                return false;
            }
            directive += "ll";
            directive += conv;
            ok = emit(static_cast<unsigned long long>(ToInteger(arg)));
            break;
        case 'c':
            if (!IsNumeric(arg)) {
                sq_throwerror(v, "integer expected for the specified format");
                return false;
            }
            directive += 'c';
            ok = emit(static_cast<int>(static_cast<unsigned char>(ToInteger(arg))));
            break;
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G':
            if (!IsNumeric(arg)) {
                sq_throwerror(v, "float expected for the specified format");
                return false;
            }
            directive += conv;
            ok = emit(static_cast<double>(ToFloat(arg)));
            break;
        case 's':
            if (arg._type != OT_STRING) {
                sq_throwerror(v, "string expected for the specified format");
                return false;
            }
            if (directive == "%") {
                piece.assign(AsString(arg)->View());
                ok = true;
            } else {
                directive += 's';
                ok = emit(StrOf(arg));
            }
            break;
        default:
            sq_throwerror(v, "invalid format");
            return false;
        }
        if (!ok) {
            sq_throwerror(v, "invalid format");
            return false;
        }
        out += piece;
    }
    return true;
}

SQInteger string_format(HSQUIRRELVM v) {
    std::string out;
    if (!Format(v, 2, out))
        return SQ_ERROR;
    sq_pushstring(v, out.data(), static_cast<SQInteger>(out.size()));
    return 1;
}

SQInteger Strip(HSQUIRRELVM v, bool left, bool right) {
    std::string_view s = AsString(Arg(v, 2))->View();
    size_t b = 0, e = s.size();
    if (left)
        while (b < e && IsBlank(s[b]))
            ++b;
    if (right)
        while (e > b && IsBlank(s[e - 1]))
            --e;
    sq_pushstring(v, s.data() + b, static_cast<SQInteger>(e - b));
    return 1;
}
SQInteger string_strip(HSQUIRRELVM v) { return Strip(v, true, true); }
SQInteger string_lstrip(HSQUIRRELVM v) { return Strip(v, true, false); }
SQInteger string_rstrip(HSQUIRRELVM v) { return Strip(v, false, true); }

SQInteger string_split(HSQUIRRELVM v) {
    std::string_view s = AsString(Arg(v, 2))->View();
    std::string_view seps = AsString(Arg(v, 3))->View();
    bool skipEmpty = ArgCount(v) > 3 && !IsFalse(Arg(v, 4));
    sq_newarray(v, 0);
    size_t start = 0;
    for (size_t i = 0; i <= s.size(); ++i) {
        if (i == s.size() || seps.find(s[i]) != std::string_view::npos) {
            if (!(skipEmpty && i == start)) {
                sq_pushstring(v, s.data() + start, static_cast<SQInteger>(i - start));
                sq_arrayappend(v, -2);
            }
            start = i + 1;
        }
    }
    return 1;
}

SQInteger string_escape(HSQUIRRELVM v) {
    std::string_view s = AsString(Arg(v, 2))->View();
    std::string out;
    out.reserve(s.size());
    for (char ch : s) {
        unsigned char c = static_cast<unsigned char>(ch);
        switch (c) {
        case '\a': out += "\\a"; break;
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\v': out += "\\v"; break;
        case '\f': out += "\\f"; break;
        case '\r': out += "\\r"; break;
        case '"': out += "\\\""; break;
        case '\'': out += "\\'"; break;
        case '\\': out += "\\\\"; break;
        case 0: out += "\\0"; break;
        default:
            if (c < 32 || c >= 127) {
                char buf[8];
                snprintf(buf, sizeof(buf), "\\x%02x", c);
                out += buf;
            } else {
                out += ch;
            }
        }
    }
    sq_pushstring(v, out.data(), static_cast<SQInteger>(out.size()));
    return 1;
}

SQInteger string_startswith(HSQUIRRELVM v) {
    std::string_view s = AsString(Arg(v, 2))->View();
    std::string_view p = AsString(Arg(v, 3))->View();
    sq_pushbool(v, s.substr(0, p.size()) == p);
    return 1;
}

SQInteger string_endswith(HSQUIRRELVM v) {
    std::string_view s = AsString(Arg(v, 2))->View();
    std::string_view p = AsString(Arg(v, 3))->View();
    sq_pushbool(v, s.size() >= p.size() && s.substr(s.size() - p.size()) == p);
    return 1;
}

// ---------------------------------------------------------------- regexp

const char kRegexpTypeTag = 0;

#define REGEXP_SELF(re)                                                                                                \
    CSqRegexp* re = OwnedAt<CSqRegexp>(v, 1, kRegexpTypeTag);                                                          \
    if (!re)                                                                                                           \
        return sq_throwerror(v, "invalid regexp");

SQInteger regexp_constructor(HSQUIRRELVM v) {
    if (AlreadyOwning(v))
        return sq_throwerror(v, "regexp already initialised");
    auto re = std::make_unique<CSqRegexp>();
    std::string error;
    if (!re->Compile(AsString(Arg(v, 2))->View(), error))
        return sq_throwerror(v, error.c_str());
    AttachOwned(v, 1, std::move(re));
    return 0;
}

SQInteger TooComplex(HSQUIRRELVM v) { return sq_throwerror(v, "regexp too complex for this text"); }

bool StartIndex(HSQUIRRELVM v, SQInteger argIdx, size_t len, size_t& start) {
    SQInteger s = ArgCount(v) >= argIdx ? ToInteger(Arg(v, argIdx)) : 0;
    if (s < 0 || s > static_cast<SQInteger>(len)) {
        sq_throwerror(v, "invalid starting position");
        return false;
    }
    start = static_cast<size_t>(s);
    return true;
}

void PushRange(HSQUIRRELVM v, const CSqRegexp::Range& r) {
    sq_newtable(v);
    SetSlot(v, "begin", SQObjectPtr::Integer(r.begin));
    SetSlot(v, "end", SQObjectPtr::Integer(r.end));
}

// A search from the optional start argument: 1 with `groups` filled on a match, 0 without one, below 0
// on an error.
SQInteger SearchFromArgs(HSQUIRRELVM v, CSqRegexp* re, std::vector<CSqRegexp::Range>& groups) {
    SQObjectPtr text = Arg(v, 2);
    size_t start;
    if (!StartIndex(v, 3, static_cast<size_t>(AsString(text)->_len), start))
        return SQ_ERROR;
    CSqRegexp::eResult r = re->Search(AsString(text)->View(), start, groups);
    if (r == CSqRegexp::eResult::TOO_COMPLEX)
        return TooComplex(v);
    return r == CSqRegexp::eResult::MATCH ? 1 : 0;
}

SQInteger regexp_match(HSQUIRRELVM v) {
    REGEXP_SELF(re);
    CSqRegexp::eResult r = re->Match(AsString(Arg(v, 2))->View());
    if (r == CSqRegexp::eResult::TOO_COMPLEX)
        return TooComplex(v);
    sq_pushbool(v, r == CSqRegexp::eResult::MATCH);
    return 1;
}

SQInteger regexp_search(HSQUIRRELVM v) {
    REGEXP_SELF(re);
    std::vector<CSqRegexp::Range> groups;
    if (SQInteger found = SearchFromArgs(v, re, groups); found <= 0)
        return found;
    PushRange(v, groups[0]);
    return 1;
}

SQInteger regexp_capture(HSQUIRRELVM v) {
    REGEXP_SELF(re);
    std::vector<CSqRegexp::Range> groups;
    if (SQInteger found = SearchFromArgs(v, re, groups); found <= 0)
        return found;
    sq_newarray(v, 0);
    for (const auto& g : groups) {
        PushRange(v, g);
        sq_arrayappend(v, -2);
    }
    return 1;
}

SQInteger regexp_subexpcount(HSQUIRRELVM v) {
    REGEXP_SELF(re);
    sq_pushinteger(v, static_cast<SQInteger>(re->GroupCount()));
    return 1;
}

SQInteger regexp__typeof(HSQUIRRELVM v) {
    sq_pushstring(v, "regexp", -1);
    return 1;
}

const SQRegFunction kRegexpMethods[] = {
    {"constructor", regexp_constructor, 2, ".s"},
    {"search", regexp_search, -2, "xsn"},
    {"match", regexp_match, 2, "xs"},
    {"capture", regexp_capture, -2, "xsn"},
    {"subexpcount", regexp_subexpcount, 1, "x"},
    {"_typeof", regexp__typeof, 1, "x"},
    {nullptr, nullptr, 0, nullptr},
};

const SQRegFunction kStringFuncs[] = {
    {"format", string_format, -2, ".s"},
    {"strip", string_strip, 2, ".s"},
    {"lstrip", string_lstrip, 2, ".s"},
    {"rstrip", string_rstrip, 2, ".s"},
    {"split", string_split, -3, ".ss."},
    {"escape", string_escape, 2, ".s"},
    {"startswith", string_startswith, 3, ".ss"},
    {"endswith", string_endswith, 3, ".ss"},
    {nullptr, nullptr, 0, nullptr},
};

} // namespace

} // namespace Squirrel

using namespace Squirrel;

SQRESULT sqstd_register_stringlib(HSQUIRRELVM v) {
    sq_pushstring(v, "regexp", -1);
    PushLibraryClass(v, kRegexpTypeTag, kRegexpMethods);
    sq_newslot(v, -3, SQFalse);
    RegisterNatives(v, kStringFuncs);
    return SQ_OK;
}

SQRESULT sqstd_format(HSQUIRRELVM v, SQInteger nformatstringidx, SQInteger* outlen, SQChar** output) {
    if (sq_gettype(v, nformatstringidx) != OT_STRING)
        return sq_throwerror(v, "format string expected");
    SQInteger idx = nformatstringidx > 0 ? nformatstringidx : v->_top - v->_stackbase + nformatstringidx + 1;
    std::string& out = v->_ss->_scratch;
    if (!Format(v, idx, out))
        return SQ_ERROR;
    *outlen = static_cast<SQInteger>(out.size());
    *output = out.data();
    return SQ_OK;
}
