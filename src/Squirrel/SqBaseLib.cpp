// The base library (global functions every machine starts with) and the default delegates of each type.

#include "SqLibUtil.h"

#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace Squirrel {

void RegisterNatives(HSQUIRRELVM v, const SQRegFunction* funcs) {
    for (const SQRegFunction* f = funcs; f->name; ++f) {
        sq_pushstring(v, f->name, -1);
        sq_newclosure(v, f->f, 0);
        sq_setparamscheck(v, f->nparamscheck, f->typemask);
        sq_setnativeclosurename(v, -1, f->name);
        sq_newslot(v, -3, SQFalse);
    }
}

void PushLibraryClass(HSQUIRRELVM v, const char& typetag, const SQRegFunction* methods) {
    sq_newclass(v, SQFalse);
    sq_settypetag(v, -1, const_cast<char*>(&typetag));
    RegisterNatives(v, methods);
}

SQInteger ThrowError(HSQUIRRELVM v, const char* fmt, ...) {
    char buf[512];
    va_list args;
    va_start(args, fmt);
    vsnprintf(buf, sizeof(buf), fmt, args);
    va_end(args);
    return sq_throwerror(v, buf);
}

namespace {

// ---------------------------------------------------------------- global functions

SQInteger base_seterrorhandler(HSQUIRRELVM v) {
    v->_errorhandler = Arg(v, 2);
    return 0;
}

SQInteger base_setdebughook(HSQUIRRELVM v) {
    v->_debughook = Arg(v, 2);
    return 0;
}

SQInteger base_enabledebuginfo(HSQUIRRELVM v) {
    v->_ss->_debuginfo = !IsFalse(Arg(v, 2));
    return 0;
}

SQInteger PushStackInfos(HSQUIRRELVM v, CSqVM* target, SQInteger level) {
    SQStackInfos si;
    if (!target->StackInfos(level, si))
        return 0;
    CSqTable* t = CSqTable::Create(v->_ss, 4);
    SQObjectPtr tobj(t);
    t->NewSlot(v->_ss->Str("func"), si.funcname ? v->_ss->Str(si.funcname) : v->_ss->Str("unknown"));
    t->NewSlot(v->_ss->Str("src"), si.source ? v->_ss->Str(si.source) : v->_ss->Str("unknown"));
    t->NewSlot(v->_ss->Str("line"), SQObjectPtr::Integer(si.line));
    t->NewSlot(v->_ss->Str("column"), SQObjectPtr::Integer(si.column));
    const SQCallInfo& ci = *target->FrameAt(level);
    if (ci._closure) {
        CSqTable* locals = CSqTable::Create(v->_ss, 0);
        SQObjectPtr lobj(locals);
        CSqFunctionProto* p = ci._closure->Proto();
        size_t pc = ci.Pc();
        for (auto& lv : p->_localvarinfos) {
            if (lv.startpc <= pc && pc < lv.endpc && StrOf(lv.name)[0] != '@')
                locals->NewSlot(lv.name, target->_stack[static_cast<size_t>(ci._base + lv.reg)]);
        }
        t->NewSlot(v->_ss->Str("locals"), lobj);
    }
    return PushResult(v, std::move(tobj));
}

SQInteger base_getstackinfos(HSQUIRRELVM v) { return PushStackInfos(v, v, AsInt(Arg(v, 2))); }

SQInteger base_getroottable(HSQUIRRELVM v) { return PushResult(v, v->_roottable); }

SQInteger base_setroottable(HSQUIRRELVM v) {
    SQObjectPtr old = v->_roottable;
    const SQObjectPtr& t = Arg(v, 2);
    if (t._type != OT_TABLE)
        return sq_throwerror(v, "the root table must be a table");
    v->_roottable = t;
    return PushResult(v, std::move(old));
}

SQInteger base_getconsttable(HSQUIRRELVM v) { return PushResult(v, v->_ss->_consts); }

SQInteger base_setconsttable(HSQUIRRELVM v) {
    SQObjectPtr old = v->_ss->_consts;
    v->_ss->_consts = Arg(v, 2);
    return PushResult(v, std::move(old));
}

SQInteger base_assert(HSQUIRRELVM v) {
    if (!IsFalse(Arg(v, 2)))
        return 0;
    if (ArgCount(v) > 2) {
        SQObjectPtr msg;
        if (!v->ToString(Arg(v, 3), msg))
            return SQ_ERROR;
        return sq_throwerror(v, StrOf(msg));
    }
    return sq_throwerror(v, "assertion failed");
}

// The text form of the argument through the host's print or error function.
SQInteger PrintWith(HSQUIRRELVM v, SQPRINTFUNCTION out) {
    SQObjectPtr s;
    if (!v->ToString(Arg(v, 2), s))
        return SQ_ERROR;
    if (out)
        out(v, "%s", StrOf(s));
    return 0;
}
SQInteger base_print(HSQUIRRELVM v) { return PrintWith(v, v->_ss->_printfunc); }
SQInteger base_error(HSQUIRRELVM v) { return PrintWith(v, v->_ss->_errorfunc); }

SQInteger base_compilestring(HSQUIRRELVM v) {
    const SQObjectPtr& src = Arg(v, 2);
    std::string name = "unnamedbuffer";
    if (ArgCount(v) > 2 && Arg(v, 3)._type == OT_STRING)
        name = StrOf(Arg(v, 3));
    std::string text(AsString(src)->View());
    if (SQ_FAILED(sq_compilebuffer(v, text.data(), static_cast<SQInteger>(text.size()), name.c_str(), SQFalse)))
        return SQ_ERROR;
    return 1;
}

SQInteger base_newthread(HSQUIRRELVM v) {
    SQObjectPtr fn = Arg(v, 2);
    HSQUIRRELVM t = sq_newthread(v, 1024);
    t->Push(fn);
    return 1;
}

SQInteger base_suspend(HSQUIRRELVM v) { return sq_suspendvm(v); }

SQInteger base_array(HSQUIRRELVM v) {
    SQInteger size = ToInteger(Arg(v, 2));
    if (size < 0)
        return sq_throwerror(v, "negative size");
    if (size > kMaxScriptAllocation)
        return sq_throwerror(v, "size too big");
    CSqArray* a = CSqArray::Create(v->_ss, size);
    SQObjectPtr obj(a);
    if (ArgCount(v) > 2) {
        for (auto& e : a->_values)
            e = Arg(v, 3);
    }
    return PushResult(v, std::move(obj));
}

SQInteger base_type(HSQUIRRELVM v) { return PushResult(v, v->_ss->Str(TypeName(Arg(v, 2)._type))); }

SQInteger base_callee(HSQUIRRELVM v) {
    // level 0 is this native; the caller is one below it
    if (v->_callstack.size() < 2)
        return sq_throwerror(v, "no closure in the calls stack");
    const SQCallInfo& ci = v->_callstack[v->_callstack.size() - 2];
    if (ci._closure)
        return PushResult(v, SQObjectPtr(ci._closure));
    if (ci._native)
        return PushResult(v, SQObjectPtr(ci._native));
    return 0;
}

SQInteger base_dummy(HSQUIRRELVM) { return 0; }

SQInteger base_collectgarbage(HSQUIRRELVM v) { return PushResult(v, SQObjectPtr::Integer(sq_collectgarbage(v))); }

SQInteger base_resurrectunreachable(HSQUIRRELVM v) {
    sq_resurrectunreachable(v);
    return 1;
}

const SQRegFunction kBaseFuncs[] = {
    {"seterrorhandler", base_seterrorhandler, 2, ".c|o"},
    {"setdebughook", base_setdebughook, 2, ".c|o"},
    {"enabledebuginfo", base_enabledebuginfo, 2, "."},
    {"getstackinfos", base_getstackinfos, 2, ".n"},
    {"getroottable", base_getroottable, 1, nullptr},
    {"setroottable", base_setroottable, 2, "."},
    {"getconsttable", base_getconsttable, 1, nullptr},
    {"setconsttable", base_setconsttable, 2, ".t"},
    {"assert", base_assert, -2, nullptr},
    {"print", base_print, 2, nullptr},
    {"error", base_error, 2, nullptr},
    {"compilestring", base_compilestring, -2, ".ss"},
    {"newthread", base_newthread, 2, ".c"},
    {"suspend", base_suspend, -1, nullptr},
    {"array", base_array, -2, ".n"},
    {"type", base_type, 2, nullptr},
    {"callee", base_callee, 1, nullptr},
    {"dummy", base_dummy, 0, nullptr},
    {"collectgarbage", base_collectgarbage, 1, nullptr},
    {"resurrectunreachable", base_resurrectunreachable, 1, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------- shared delegate entries

SQInteger default_weakref(HSQUIRRELVM v) {
    sq_weakref(v, 1);
    return 1;
}

SQInteger default_tostring(HSQUIRRELVM v) {
    if (SQ_FAILED(sq_tostring(v, 1)))
        return SQ_ERROR;
    return 1;
}

SQInteger obj_len(HSQUIRRELVM v) { return PushResult(v, SQObjectPtr::Integer(sq_getsize(v, 1))); }

SQInteger obj_rawget(HSQUIRRELVM v) {
    SQObjectPtr res;
    if (!v->Get(Arg(v, 1), Arg(v, 2), res, GET_RAW))
        return SQ_ERROR;
    return PushResult(v, std::move(res));
}

SQInteger obj_rawset(HSQUIRRELVM v) {
    sq_push(v, 2);
    sq_push(v, 3);
    if (SQ_FAILED(sq_rawset(v, 1)))
        return SQ_ERROR;
    sq_push(v, 1);
    return 1;
}

SQInteger obj_rawin(HSQUIRRELVM v) {
    SQObjectPtr res;
    eLookup r = v->GetImpl(Arg(v, 1), Arg(v, 2), res, GET_RAW);
    return PushResult(v, SQObjectPtr::Bool(r == eLookup::FOUND));
}

SQInteger obj_clear(HSQUIRRELVM v) {
    if (SQ_FAILED(sq_clear(v, 1)))
        return SQ_ERROR;
    sq_push(v, 1);
    return 1;
}

// ---------------------------------------------------------------- numbers

SQInteger number_tofloat(HSQUIRRELVM v) {
    const SQObjectPtr& o = Arg(v, 1);
    SQFloat f = o._type == OT_BOOL ? static_cast<SQFloat>(AsInt(o)) : ToFloat(o);
    return PushResult(v, SQObjectPtr::Float(f));
}

SQInteger number_tointeger(HSQUIRRELVM v) {
    const SQObjectPtr& o = Arg(v, 1);
    SQInteger i = o._type == OT_BOOL ? AsInt(o) : ToInteger(o);
    return PushResult(v, SQObjectPtr::Integer(i));
}

SQInteger number_tochar(HSQUIRRELVM v) {
    char c = static_cast<char>(ToInteger(Arg(v, 1)) & 0xFF);
    return PushResult(v, v->_ss->Str(std::string_view(&c, 1)));
}

const SQRegFunction kNumberDelegate[] = {
    {"tofloat", number_tofloat, 1, "n|b"},
    {"tostring", default_tostring, 1, "."},
    {"tointeger", number_tointeger, 1, "n|b"},
    {"tochar", number_tochar, 1, "n|b"},
    {"weakref", default_weakref, 1, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------- strings

bool ParseInteger(std::string_view s, int base, SQInteger& out) {
    std::string text(s);
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text.c_str(), &end, base);
    if (end && *end == 0 && end != text.c_str()) {
        if (errno == ERANGE) {
            unsigned long long u = std::strtoull(text.c_str(), &end, base);
            v = static_cast<long long>(u);
        }
        out = v;
        return true;
    }
    // the float fallback takes decimal notation only (no "nan", "inf" or hexadecimal floats)
    bool decimal = text.find_first_not_of("0123456789.eE+-") == std::string::npos &&
                   text.find_first_of("0123456789") != std::string::npos;
    if (base == 10 && decimal) {
        double d = std::strtod(text.c_str(), &end);
        if (end && *end == 0 && end != text.c_str()) {
            out = FloatToInt(DoubleToFloat(d));
            return true;
        }
    }
    return false;
}

SQInteger string_len(HSQUIRRELVM v) { return PushResult(v, SQObjectPtr::Integer(AsString(Arg(v, 1))->_len)); }

SQInteger string_tointeger(HSQUIRRELVM v) {
    int base = 10;
    if (ArgCount(v) > 1) {
        SQInteger b = ToInteger(Arg(v, 2));
        if (b < 2 || b > 36)
            return sq_throwerror(v, "invalid base");
        base = static_cast<int>(b);
    }
    SQInteger out;
    if (!ParseInteger(AsString(Arg(v, 1))->View(), base, out))
        return sq_throwerror(v, "cannot convert the string");
    return PushResult(v, SQObjectPtr::Integer(out));
}

SQInteger string_tofloat(HSQUIRRELVM v) {
    std::string text(AsString(Arg(v, 1))->View());
    char* end = nullptr;
    double d = std::strtod(text.c_str(), &end);
    if (text.empty() || !end || *end != 0)
        return sq_throwerror(v, "cannot convert the string");
    return PushResult(v, SQObjectPtr::Float(DoubleToFloat(d)));
}

bool SliceRange(SQInteger len, SQInteger& start, SQInteger& end) {
    if (start < 0)
        start += len;
    if (end < 0)
        end += len;
    return start >= 0 && end <= len && start <= end;
}

SQInteger string_slice(HSQUIRRELVM v) {
    CSqString* s = AsString(Arg(v, 1));
    SQInteger start = ToInteger(Arg(v, 2));
    SQInteger end = ArgCount(v) > 2 ? ToInteger(Arg(v, 3)) : s->_len;
    if (!SliceRange(s->_len, start, end))
        return sq_throwerror(v, "slice out of range");
    return PushResult(v, v->_ss->Str(s->View().substr(static_cast<size_t>(start), static_cast<size_t>(end - start))));
}

SQInteger string_find(HSQUIRRELVM v) {
    std::string_view s = AsString(Arg(v, 1))->View();
    std::string_view sub = AsString(Arg(v, 2))->View();
    SQInteger start = ArgCount(v) > 2 ? ToInteger(Arg(v, 3)) : 0;
    if (start < 0 || start > static_cast<SQInteger>(s.size()))
        return 0;
    size_t pos = s.find(sub, static_cast<size_t>(start));
    if (pos == std::string_view::npos)
        return 0;
    return PushResult(v, SQObjectPtr::Integer(static_cast<SQInteger>(pos)));
}

SQInteger string_case(HSQUIRRELVM v, bool upper) {
    std::string s(AsString(Arg(v, 1))->View());
    for (char& c : s) {
        if (upper && c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 32);
        else if (!upper && c >= 'A' && c <= 'Z')
            c = static_cast<char>(c + 32);
    }
    return PushResult(v, v->_ss->Str(s));
}
SQInteger string_tolower(HSQUIRRELVM v) { return string_case(v, false); }
SQInteger string_toupper(HSQUIRRELVM v) { return string_case(v, true); }

const SQRegFunction kStringDelegate[] = {
    {"len", string_len, 1, "s"},
    {"tointeger", string_tointeger, -1, "sn"},
    {"tofloat", string_tofloat, 1, "s"},
    {"tostring", default_tostring, 1, "."},
    {"slice", string_slice, -2, "snn"},
    {"find", string_find, -2, "ssn"},
    {"tolower", string_tolower, 1, "s"},
    {"toupper", string_toupper, 1, "s"},
    {"weakref", default_weakref, 1, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------- tables

SQInteger table_rawdelete(HSQUIRRELVM v) {
    sq_push(v, 2);
    if (SQ_FAILED(sq_rawdeleteslot(v, 1, SQTrue)))
        return SQ_ERROR;
    return 1;
}

SQInteger table_setdelegate(HSQUIRRELVM v) {
    sq_push(v, 2);
    if (SQ_FAILED(sq_setdelegate(v, 1)))
        return SQ_ERROR;
    sq_push(v, 1);
    return 1;
}

SQInteger table_getdelegate(HSQUIRRELVM v) { return SQ_SUCCEEDED(sq_getdelegate(v, 1)) ? 1 : SQ_ERROR; }

SQInteger table_filter(HSQUIRRELVM v) {
    SQObjectPtr self = Arg(v, 1);
    SQObjectPtr fn = Arg(v, 2);
    CSqTable* result = CSqTable::Create(v->_ss, 0);
    SQObjectPtr robj(result);
    v->Push(robj); // keeps the result reachable while callbacks run
    SQObjectPtr key, val;
    for (SQInteger pos = AsTable(self)->Next(0, key, val); pos >= 0; pos = AsTable(self)->Next(pos, key, val)) {
        SQObjectPtr args[3] = {self, key, val};
        SQObjectPtr keep;
        if (!v->CallWith(fn, args, 3, keep, false))
            return SQ_ERROR;
        if (!IsFalse(keep))
            result->NewSlot(key, val);
    }
    return 1;
}

SQInteger table_keys_values(HSQUIRRELVM v, bool keys) {
    CSqTable* t = AsTable(Arg(v, 1));
    CSqArray* a = CSqArray::Create(v->_ss, 0);
    SQObjectPtr aobj(a);
    a->_values.reserve(static_cast<size_t>(t->Count()));
    SQObjectPtr key, val;
    for (SQInteger pos = t->Next(0, key, val); pos >= 0; pos = t->Next(pos, key, val))
        a->_values.push_back(keys ? key : val);
    return PushResult(v, std::move(aobj));
}
SQInteger table_keys(HSQUIRRELVM v) { return table_keys_values(v, true); }
SQInteger table_values(HSQUIRRELVM v) { return table_keys_values(v, false); }

const SQRegFunction kTableDelegate[] = {
    {"len", obj_len, 1, "t"},
    {"rawget", obj_rawget, 2, "t"},
    {"rawset", obj_rawset, 3, "t"},
    {"rawdelete", table_rawdelete, 2, "t"},
    {"rawin", obj_rawin, 2, "t"},
    {"weakref", default_weakref, 1, nullptr},
    {"tostring", default_tostring, 1, "."},
    {"clear", obj_clear, 1, "."},
    {"setdelegate", table_setdelegate, 2, ".t|o"},
    {"getdelegate", table_getdelegate, 1, "."},
    {"filter", table_filter, 2, "tc"},
    {"keys", table_keys, 1, "t"},
    {"values", table_values, 1, "t"},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------- arrays

CSqArray* SelfArray(HSQUIRRELVM v) { return AsArray(Arg(v, 1)); }

SQInteger array_append(HSQUIRRELVM v) {
    SelfArray(v)->_values.push_back(Arg(v, 2));
    return 0;
}

SQInteger array_extend(HSQUIRRELVM v) {
    std::vector<SQObjectPtr> items = AsArray(Arg(v, 2))->_values;
    auto& dst = SelfArray(v)->_values;
    dst.insert(dst.end(), items.begin(), items.end());
    sq_push(v, 1);
    return 1;
}

SQInteger array_pop(HSQUIRRELVM v) { return SQ_SUCCEEDED(sq_arraypop(v, 1, SQTrue)) ? 1 : SQ_ERROR; }

SQInteger array_top(HSQUIRRELVM v) {
    auto& vals = SelfArray(v)->_values;
    if (vals.empty())
        return sq_throwerror(v, "top() on a empty array");
    return PushResult(v, vals.back());
}

SQInteger array_insert(HSQUIRRELVM v) {
    sq_push(v, 3);
    if (SQ_FAILED(sq_arrayinsert(v, 1, ToInteger(Arg(v, 2)))))
        return SQ_ERROR;
    return 0;
}

SQInteger array_remove(HSQUIRRELVM v) {
    auto& vals = SelfArray(v)->_values;
    SQInteger idx = ToInteger(Arg(v, 2));
    if (idx < 0 || idx >= static_cast<SQInteger>(vals.size()))
        return sq_throwerror(v, "index out of range");
    SQObjectPtr removed = std::move(vals[static_cast<size_t>(idx)]);
    vals.erase(vals.begin() + idx);
    return PushResult(v, std::move(removed));
}

SQInteger array_resize(HSQUIRRELVM v) {
    SQInteger size = ToInteger(Arg(v, 2));
    if (size < 0)
        return sq_throwerror(v, "negative size");
    if (size > kMaxScriptAllocation)
        return sq_throwerror(v, "size too big");
    auto& vals = SelfArray(v)->_values;
    size_t old = vals.size();
    vals.resize(static_cast<size_t>(size));
    if (ArgCount(v) > 2)
        for (size_t i = old; i < vals.size(); ++i)
            vals[i] = Arg(v, 3);
    return 0;
}

// Sorts with a merge sort on a private copy: a comparator that is inconsistent, throws, or changes the
// array while it runs can never make the sort read out of bounds.
SQInteger array_sort(HSQUIRRELVM v) {
    SQObjectPtr self = Arg(v, 1);
    SQObjectPtr cmp = ArgCount(v) > 1 ? Arg(v, 2) : SQObjectPtr();
    CSqArray* work = CSqArray::Create(v->_ss, 0);
    SQObjectPtr workobj(work);
    CSqArray* aux = CSqArray::Create(v->_ss, 0);
    SQObjectPtr auxobj(aux);
    v->Push(workobj); // both stay reachable while comparators run
    v->Push(auxobj);
    work->_values = AsArray(self)->_values;
    size_t n = work->_values.size();
    aux->_values.resize(n);
    auto less = [&](const SQObjectPtr& a, const SQObjectPtr& b, bool& result) -> bool {
        if (cmp._type == OT_NULL) {
            int r;
            if (!v->Compare(a, b, r))
                return false;
            result = r == -1;
            return true;
        }
        SQObjectPtr args[3] = {v->_roottable, a, b};
        SQObjectPtr r;
        if (!v->CallWith(cmp, args, 3, r, false))
            return false;
        if (!IsNumeric(r)) {
            v->RaiseError("compare func must return an integer");
            return false;
        }
        result = ToInteger(r) < 0;
        return true;
    };
    for (size_t width = 1; width < n; width *= 2) {
        for (size_t lo = 0; lo < n; lo += 2 * width) {
            size_t mid = std::min(lo + width, n), hi = std::min(lo + 2 * width, n);
            size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi) {
                bool takeRight = false;
                SQObjectPtr a = work->_values[j], b = work->_values[i];
                if (!less(a, b, takeRight))
                    return SQ_ERROR;
                if (work->_values.size() != n || aux->_values.size() != n)
                    return sq_throwerror(v, "array modified during sort");
                aux->_values[k++] = takeRight ? work->_values[j++] : work->_values[i++];
            }
            while (i < mid)
                aux->_values[k++] = work->_values[i++];
            while (j < hi)
                aux->_values[k++] = work->_values[j++];
        }
        work->_values.swap(aux->_values);
    }
    AsArray(self)->_values = work->_values;
    return 0;
}

SQInteger array_reverse(HSQUIRRELVM v) { return SQ_SUCCEEDED(sq_arrayreverse(v, 1)) ? 0 : SQ_ERROR; }

SQInteger array_slice(HSQUIRRELVM v) {
    auto& vals = SelfArray(v)->_values;
    SQInteger len = static_cast<SQInteger>(vals.size());
    SQInteger start = ToInteger(Arg(v, 2));
    SQInteger end = ArgCount(v) > 2 ? ToInteger(Arg(v, 3)) : len;
    if (!SliceRange(len, start, end))
        return sq_throwerror(v, "slice out of range");
    CSqArray* a = CSqArray::Create(v->_ss, 0);
    SQObjectPtr aobj(a);
    a->_values.assign(vals.begin() + start, vals.begin() + end);
    return PushResult(v, std::move(aobj));
}

// Calls fn for every element; each step re-reads the array, since the callback may change it.
template <typename F>
SQInteger ForEachElement(HSQUIRRELVM v, F&& step) {
    SQObjectPtr self = Arg(v, 1);
    for (size_t i = 0; i < AsArray(self)->_values.size(); ++i) {
        SQObjectPtr item = AsArray(self)->_values[i];
        if (!step(self, static_cast<SQInteger>(i), item))
            return SQ_ERROR;
    }
    return 0;
}

SQInteger array_map(HSQUIRRELVM v) {
    SQObjectPtr fn = Arg(v, 2);
    CSqArray* out = CSqArray::Create(v->_ss, 0);
    SQObjectPtr outobj(out);
    v->Push(outobj);
    SQInteger r = ForEachElement(v, [&](const SQObjectPtr& self, SQInteger, const SQObjectPtr& item) {
        SQObjectPtr args[2] = {self, item};
        SQObjectPtr res;
        if (!v->CallWith(fn, args, 2, res, false))
            return false;
        out->_values.push_back(res);
        return true;
    });
    return r < 0 ? r : 1;
}

SQInteger array_apply(HSQUIRRELVM v) {
    SQObjectPtr fn = Arg(v, 2);
    SQInteger r = ForEachElement(v, [&](const SQObjectPtr& self, SQInteger i, const SQObjectPtr& item) {
        SQObjectPtr args[2] = {self, item};
        SQObjectPtr res;
        if (!v->CallWith(fn, args, 2, res, false))
            return false;
        auto& vals = AsArray(self)->_values;
        if (static_cast<size_t>(i) < vals.size())
            vals[static_cast<size_t>(i)] = res;
        return true;
    });
    if (r < 0)
        return r;
    sq_push(v, 1);
    return 1;
}

SQInteger array_reduce(HSQUIRRELVM v) {
    SQObjectPtr fn = Arg(v, 2);
    SQObjectPtr self = Arg(v, 1);
    size_t start = 0;
    SQObjectPtr acc;
    if (ArgCount(v) > 2) {
        acc = Arg(v, 3);
    } else {
        if (AsArray(self)->_values.empty())
            return 0;
        acc = AsArray(self)->_values[0];
        start = 1;
    }
    for (size_t i = start; i < AsArray(self)->_values.size(); ++i) {
        SQObjectPtr args[3] = {self, acc, AsArray(self)->_values[i]};
        SQObjectPtr res;
        if (!v->CallWith(fn, args, 3, res, false))
            return SQ_ERROR;
        acc = std::move(res);
    }
    return PushResult(v, std::move(acc));
}

SQInteger array_filter(HSQUIRRELVM v) {
    SQObjectPtr fn = Arg(v, 2);
    CSqArray* out = CSqArray::Create(v->_ss, 0);
    SQObjectPtr outobj(out);
    v->Push(outobj);
    SQInteger r = ForEachElement(v, [&](const SQObjectPtr& self, SQInteger i, const SQObjectPtr& item) {
        SQObjectPtr args[3] = {self, SQObjectPtr::Integer(i), item};
        SQObjectPtr res;
        if (!v->CallWith(fn, args, 3, res, false))
            return false;
        if (!IsFalse(res))
            out->_values.push_back(item);
        return true;
    });
    return r < 0 ? r : 1;
}

SQInteger array_find(HSQUIRRELVM v) {
    auto& vals = SelfArray(v)->_values;
    const SQObjectPtr& what = Arg(v, 2);
    for (size_t i = 0; i < vals.size(); ++i)
        if (CSqVM::IsEqual(vals[i], what))
            return PushResult(v, SQObjectPtr::Integer(static_cast<SQInteger>(i)));
    return 0;
}

const SQRegFunction kArrayDelegate[] = {
    {"len", obj_len, 1, "a"},
    {"append", array_append, 2, "a"},
    {"push", array_append, 2, "a"},
    {"extend", array_extend, 2, "aa"},
    {"pop", array_pop, 1, "a"},
    {"top", array_top, 1, "a"},
    {"insert", array_insert, 3, "an"},
    {"remove", array_remove, 2, "an"},
    {"resize", array_resize, -2, "an"},
    {"sort", array_sort, -1, "ac"},
    {"reverse", array_reverse, 1, "a"},
    {"slice", array_slice, -2, "ann"},
    {"weakref", default_weakref, 1, nullptr},
    {"tostring", default_tostring, 1, "."},
    {"clear", obj_clear, 1, "."},
    {"map", array_map, 2, "ac"},
    {"apply", array_apply, 2, "ac"},
    {"reduce", array_reduce, -2, "ac"},
    {"filter", array_filter, 2, "ac"},
    {"find", array_find, 2, "a."},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------- functions

// Calls the closure that is `this` with `args` (its `this` first) and returns what it returned.
SQInteger CallSelfWith(HSQUIRRELVM v, const std::vector<SQObjectPtr>& args, bool raise) {
    SQObjectPtr fn = Arg(v, 1);
    SQObjectPtr res;
    if (!v->CallWith(fn, args.data(), static_cast<SQInteger>(args.size()), res, raise))
        return SQ_ERROR;
    return PushResult(v, std::move(res));
}

SQInteger closure_call_impl(HSQUIRRELVM v, bool raise) {
    SQInteger n = ArgCount(v);
    // the closure is `this` (index 1) and the rest are its parameters: `this` for it first
    std::vector<SQObjectPtr> args;
    for (SQInteger i = 2; i <= n; ++i)
        args.push_back(Arg(v, i));
    if (args.empty())
        args.push_back(v->_roottable);
    return CallSelfWith(v, args, raise);
}
SQInteger closure_call(HSQUIRRELVM v) { return closure_call_impl(v, true); }
SQInteger closure_pcall(HSQUIRRELVM v) { return closure_call_impl(v, false); }

SQInteger closure_acall_impl(HSQUIRRELVM v, bool raise) {
    std::vector<SQObjectPtr> args = AsArray(Arg(v, 2))->_values;
    if (args.empty())
        return sq_throwerror(v, "the array must contain at least the 'this' parameter");
    return CallSelfWith(v, args, raise);
}
SQInteger closure_acall(HSQUIRRELVM v) { return closure_acall_impl(v, true); }
SQInteger closure_pacall(HSQUIRRELVM v) { return closure_acall_impl(v, false); }

SQInteger closure_bindenv(HSQUIRRELVM v) { return SQ_SUCCEEDED(sq_bindenv(v, 1)) ? 1 : SQ_ERROR; }

SQInteger closure_setroot(HSQUIRRELVM v) { return SQ_SUCCEEDED(sq_setclosureroot(v, 1)) ? 0 : SQ_ERROR; }

SQInteger closure_getroot(HSQUIRRELVM v) { return SQ_SUCCEEDED(sq_getclosureroot(v, 1)) ? 1 : SQ_ERROR; }

SQInteger closure_getinfos(HSQUIRRELVM v) {
    const SQObjectPtr& o = Arg(v, 1);
    CSqSharedState* ss = v->_ss;
    CSqTable* t = CSqTable::Create(ss, 0);
    SQObjectPtr tobj(t);
    if (o._type == OT_CLOSURE) {
        CSqClosure* c = AsClosure(o);
        CSqFunctionProto* p = c->Proto();
        t->NewSlot(ss->Str("native"), SQObjectPtr::Bool(false));
        t->NewSlot(ss->Str("name"), p->_name);
        t->NewSlot(ss->Str("src"), p->_sourcename);
        CSqArray* params = CSqArray::Create(ss, 0);
        SQObjectPtr pobj(params);
        params->_values = p->_parameters;
        if (p->_varparams)
            params->_values.push_back(ss->Str("..."));
        t->NewSlot(ss->Str("parameters"), pobj);
        t->NewSlot(ss->Str("varargs"), SQObjectPtr::Bool(p->_varparams));
        CSqArray* defs = CSqArray::Create(ss, 0);
        SQObjectPtr dobj(defs);
        defs->_values = c->_defaultparams;
        t->NewSlot(ss->Str("defparams"), dobj);
    } else {
        CSqNativeClosure* nc = AsNative(o);
        t->NewSlot(ss->Str("native"), SQObjectPtr::Bool(true));
        t->NewSlot(ss->Str("name"), nc->_name);
        t->NewSlot(ss->Str("paramscheck"), SQObjectPtr::Integer(nc->_nparamscheck));
        CSqArray* checks = CSqArray::Create(ss, 0);
        SQObjectPtr cobj(checks);
        for (auto m : nc->_typecheck)
            checks->_values.push_back(SQObjectPtr::Integer(static_cast<SQInteger>(m)));
        t->NewSlot(ss->Str("typecheck"), cobj);
    }
    return PushResult(v, std::move(tobj));
}

const SQRegFunction kClosureDelegate[] = {
    {"call", closure_call, -1, "c"},
    {"pcall", closure_pcall, -1, "c"},
    {"acall", closure_acall, 2, "ca"},
    {"pacall", closure_pacall, 2, "ca"},
    {"weakref", default_weakref, 1, nullptr},
    {"tostring", default_tostring, 1, "."},
    {"bindenv", closure_bindenv, 2, "c x|y|t|a|c|u|g|v"},
    {"setroot", closure_setroot, 2, "ct"},
    {"getroot", closure_getroot, 1, "c"},
    {"getinfos", closure_getinfos, 1, "c"},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------- generators

SQInteger generator_getstatus(HSQUIRRELVM v) {
    CSqGenerator* g = Arg(v, 1)._unVal.pGenerator;
    const char* s = g->_state == CSqGenerator::SUSPENDED ? "suspended"
                    : g->_state == CSqGenerator::RUNNING ? "running"
                                                          : "dead";
    return PushResult(v, v->_ss->Str(s));
}

const SQRegFunction kGeneratorDelegate[] = {
    {"getstatus", generator_getstatus, 1, "g"},
    {"weakref", default_weakref, 1, nullptr},
    {"tostring", default_tostring, 1, "."},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------- threads

// A thread's error was already reported by its own handler; the caller sees it once more only as a value.
SQInteger PropagateThreadError(HSQUIRRELVM v, CSqVM* t) {
    v->_lasterror = t->_lasterror;
    v->_errorReported = t->_errorReported;
    return SQ_ERROR;
}

SQInteger thread_call(HSQUIRRELVM v) {
    SQObjectPtr self = Arg(v, 1);
    CSqVM* t = AsThread(self);
    if (t->State() != SQ_VMSTATE_IDLE)
        return sq_throwerror(v, "wakeup/call: the thread is not idle");
    if (t->_top < 1 || (t->_stack[0]._type != OT_CLOSURE && t->_stack[0]._type != OT_NATIVECLOSURE))
        return sq_throwerror(v, "the thread has no function to call");
    SQInteger n = ArgCount(v);
    t->Pop(t->_top - 1);
    t->Push(t->_roottable);
    for (SQInteger i = 2; i <= n; ++i)
        t->Push(Arg(v, i));
    SQObjectPtr fn = t->_stack[0];
    SQObjectPtr res;
    if (!t->Call(fn, n, 1, res, true, true))
        return PropagateThreadError(v, t);
    return PushResult(v, std::move(res));
}

SQInteger thread_wakeup_impl(HSQUIRRELVM v, bool throwerror) {
    SQObjectPtr self = Arg(v, 1);
    CSqVM* t = AsThread(self);
    if (t->State() != SQ_VMSTATE_SUSPENDED)
        return sq_throwerror(v, t->State() == SQ_VMSTATE_IDLE ? "cannot wakeup a idle thread"
                                                              : "cannot wakeup a running thread");
    SQObjectPtr value = ArgCount(v) > 1 ? Arg(v, 2) : SQObjectPtr();
    bool raise = true;
    if (throwerror && ArgCount(v) > 2)
        raise = !IsFalse(Arg(v, 3));
    SQObjectPtr res;
    if (!t->Wakeup(value, res, raise, throwerror))
        return PropagateThreadError(v, t);
    return PushResult(v, std::move(res));
}
SQInteger thread_wakeup(HSQUIRRELVM v) { return thread_wakeup_impl(v, false); }
SQInteger thread_wakeupthrow(HSQUIRRELVM v) { return thread_wakeup_impl(v, true); }

SQInteger thread_getstatus(HSQUIRRELVM v) {
    SQInteger s = AsThread(Arg(v, 1))->State();
    return PushResult(v, v->_ss->Str(s == SQ_VMSTATE_IDLE      ? "idle"
                                     : s == SQ_VMSTATE_RUNNING ? "running"
                                                               : "suspended"));
}

SQInteger thread_getstackinfos(HSQUIRRELVM v) {
    SQObjectPtr self = Arg(v, 1);
    return PushStackInfos(v, AsThread(self), ToInteger(Arg(v, 2)));
}

const SQRegFunction kThreadDelegate[] = {
    {"call", thread_call, -1, "v"},
    {"wakeup", thread_wakeup, -1, "v"},
    {"wakeupthrow", thread_wakeupthrow, -2, "v.b"},
    {"getstatus", thread_getstatus, 1, "v"},
    {"weakref", default_weakref, 1, nullptr},
    {"tostring", default_tostring, 1, "."},
    {"getstackinfos", thread_getstackinfos, 2, "vn"},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------- classes and instances

SQInteger class_getattributes(HSQUIRRELVM v) {
    SQObjectPtr attrs;
    if (!AsClass(Arg(v, 1))->GetAttributes(Arg(v, 2), attrs))
        return sq_throwerror(v, "wrong index");
    return PushResult(v, std::move(attrs));
}

SQInteger class_setattributes(HSQUIRRELVM v) {
    SQObjectPtr old;
    CSqClass* c = AsClass(Arg(v, 1));
    if (!c->GetAttributes(Arg(v, 2), old) || !c->SetAttributes(Arg(v, 2), Arg(v, 3)))
        return sq_throwerror(v, "wrong index");
    return PushResult(v, std::move(old));
}

SQInteger class_instance(HSQUIRRELVM v) { return SQ_SUCCEEDED(sq_createinstance(v, 1)) ? 1 : SQ_ERROR; }

SQInteger class_getbase(HSQUIRRELVM v) { return SQ_SUCCEEDED(sq_getbase(v, 1)) ? 1 : SQ_ERROR; }

SQInteger class_newmember_impl(HSQUIRRELVM v, bool raw) {
    SQInteger n = ArgCount(v);
    SQObjectPtr attrs = n > 3 ? Arg(v, 4) : SQObjectPtr();
    bool bstatic = n > 4 && !IsFalse(Arg(v, 5));
    if (!v->NewMember(Arg(v, 1), Arg(v, 2), n > 2 ? Arg(v, 3) : SQObjectPtr(), attrs, bstatic, raw))
        return SQ_ERROR;
    return 0;
}
SQInteger class_newmember(HSQUIRRELVM v) { return class_newmember_impl(v, false); }
SQInteger class_rawnewmember(HSQUIRRELVM v) { return class_newmember_impl(v, true); }

const SQRegFunction kClassDelegate[] = {
    {"getattributes", class_getattributes, 2, "y."},
    {"setattributes", class_setattributes, 3, "y.."},
    {"rawget", obj_rawget, 2, "y"},
    {"rawset", obj_rawset, 3, "y"},
    {"rawin", obj_rawin, 2, "y"},
    {"weakref", default_weakref, 1, nullptr},
    {"tostring", default_tostring, 1, "."},
    {"instance", class_instance, 1, "y"},
    {"getbase", class_getbase, 1, "y"},
    {"newmember", class_newmember, -2, "y"},
    {"rawnewmember", class_rawnewmember, -2, "y"},
    {nullptr, nullptr, 0, nullptr},
};

SQInteger instance_getclass(HSQUIRRELVM v) { return SQ_SUCCEEDED(sq_getclass(v, 1)) ? 1 : SQ_ERROR; }

const SQRegFunction kInstanceDelegate[] = {
    {"getclass", instance_getclass, 1, "x"},
    {"rawget", obj_rawget, 2, "x"},
    {"rawset", obj_rawset, 3, "x"},
    {"rawin", obj_rawin, 2, "x"},
    {"weakref", default_weakref, 1, nullptr},
    {"tostring", default_tostring, 1, "."},
    {nullptr, nullptr, 0, nullptr},
};

SQInteger weakref_ref(HSQUIRRELVM v) { return SQ_SUCCEEDED(sq_getweakrefval(v, 1)) ? 1 : SQ_ERROR; }

const SQRegFunction kWeakRefDelegate[] = {
    {"ref", weakref_ref, 1, "r"},
    {"weakref", default_weakref, 1, nullptr},
    {"tostring", default_tostring, 1, "."},
    {nullptr, nullptr, 0, nullptr},
};

SQObjectPtr MakeDelegate(CSqVM* v, const SQRegFunction* funcs) {
    sq_newtable(v);
    RegisterNatives(v, funcs);
    SQObjectPtr t = v->Top();
    v->Pop();
    return t;
}

} // namespace

void CreateDefaultDelegates(CSqVM* v) {
    CSqSharedState* ss = v->_ss;
    ss->_table_default_delegate = MakeDelegate(v, kTableDelegate);
    ss->_array_default_delegate = MakeDelegate(v, kArrayDelegate);
    ss->_string_default_delegate = MakeDelegate(v, kStringDelegate);
    ss->_number_default_delegate = MakeDelegate(v, kNumberDelegate);
    ss->_generator_default_delegate = MakeDelegate(v, kGeneratorDelegate);
    ss->_closure_default_delegate = MakeDelegate(v, kClosureDelegate);
    ss->_thread_default_delegate = MakeDelegate(v, kThreadDelegate);
    ss->_class_default_delegate = MakeDelegate(v, kClassDelegate);
    ss->_instance_default_delegate = MakeDelegate(v, kInstanceDelegate);
    ss->_weakref_default_delegate = MakeDelegate(v, kWeakRefDelegate);
}

void RegisterBaseLibrary(CSqVM* v) {
    sq_pushroottable(v);
    RegisterNatives(v, kBaseFuncs);
    SetSlot(v, "_versionnumber_", SQObjectPtr::Integer(sq_getversion()));
    SetSlot(v, "_version_", v->_ss->Str("Squirrel 3.2 stable"));
    SetSlot(v, "_charsize_", SQObjectPtr::Integer(static_cast<SQInteger>(sizeof(SQChar))));
    SetSlot(v, "_intsize_", SQObjectPtr::Integer(static_cast<SQInteger>(sizeof(SQInteger))));
    SetSlot(v, "_floatsize_", SQObjectPtr::Integer(static_cast<SQInteger>(sizeof(SQFloat))));
    sq_pop(v, 1);
}

} // namespace Squirrel
