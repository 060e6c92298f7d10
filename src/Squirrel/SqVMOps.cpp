#include "SqVM.h"

#include <cmath>
#include <cstdio>

namespace Squirrel {

namespace {

constexpr SQInteger kMaxStringLength = SQInteger(1) << 30;

// The slot for `key` in the first table along a delegate chain that has one.
SQObjectPtr* FindAlongChain(const SQObjectPtr& first, const SQObject& key) {
    for (const SQObjectPtr* d = &first; d->_type == OT_TABLE; d = &AsTable(*d)->_delegate)
        if (SQObjectPtr* p = AsTable(*d)->Find(key))
            return p;
    return nullptr;
}

std::string FloatText(SQFloat f) {
    char buf[64];
    snprintf(buf, sizeof(buf), "%g", static_cast<double>(f));
    return buf;
}

} // namespace

bool CSqVM::GetMetaMethodOf(const SQObject& o, eMetaMethod mt, SQObjectPtr& mm) {
    switch (o._type) {
    case OT_INSTANCE:
        return AsInstance(o)->Class()->GetMetaMethod(mt, mm);
    case OT_TABLE:
    case OT_USERDATA: {
        const SQObjectPtr& first = o._type == OT_TABLE ? AsTable(o)->_delegate : o._unVal.pUserData->_delegate;
        SQObjectPtr* p = FindAlongChain(first, _ss->_metamethodnames[mt]);
        if (!p)
            return false;
        mm = *p;
        return true;
    }
    default:
        return false;
    }
}

eLookup CSqVM::CallLookupMeta(const SQObjectPtr& mm, const SQObject* args, SQInteger nargs, SQObjectPtr& dest) {
    _lasterror.Null();
    if (CallWith(mm, args, nargs, dest, false))
        return eLookup::FOUND;
    // a metamethod that throws null (or fails without an error) means "no such key"
    return _lasterror._type == OT_NULL ? eLookup::MISSING : eLookup::FAILED;
}

eLookup CSqVM::GetImpl(const SQObjectPtr& self, const SQObjectPtr& key, SQObjectPtr& dest, int flags) {
    bool raw = (flags & GET_RAW) != 0;
    auto viaGetMeta = [&]() {
        SQObjectPtr mm;
        if (!GetMetaMethodOf(self, MT_GET, mm))
            return eLookup::MISSING;
        SQObjectPtr args[2] = {self, key};
        return CallLookupMeta(mm, args, 2, dest);
    };
    switch (self._type) {
    case OT_TABLE:
    case OT_USERDATA: {
        // a table's own slots, then (both) the delegate chain and its _get
        if (self._type == OT_TABLE) {
            if (SQObjectPtr* p = AsTable(self)->Find(key)) {
                AssignDeref(dest, *p);
                return eLookup::FOUND;
            }
        }
        if (raw)
            return eLookup::MISSING;
        const SQObjectPtr& chain =
            self._type == OT_TABLE ? AsTable(self)->_delegate : self._unVal.pUserData->_delegate;
        if (SQObjectPtr* p = FindAlongChain(chain, key)) {
            AssignDeref(dest, *p);
            return eLookup::FOUND;
        }
        if (eLookup r = viaGetMeta(); r != eLookup::MISSING)
            return r;
        break;
    }
    case OT_ARRAY:
        if (IsNumeric(key)) {
            SQInteger idx = ToInteger(key);
            CSqArray* a = AsArray(self);
            if (idx >= 0 && idx < a->Size()) {
                AssignDeref(dest, a->_values[static_cast<size_t>(idx)]);
                return eLookup::FOUND;
            }
            return eLookup::MISSING;
        }
        break;
    case OT_STRING:
        if (IsNumeric(key)) {
            SQInteger idx = ToInteger(key);
            CSqString* s = AsString(self);
            if (idx >= 0 && idx < s->_len) {
                dest = SQObjectPtr::Integer(static_cast<unsigned char>(s->Str()[idx]));
                return eLookup::FOUND;
            }
            return eLookup::MISSING;
        }
        break;
    case OT_INSTANCE: {
        CSqInstance* inst = AsInstance(self);
        SQObjectPtr v;
        if (inst->Get(key, v)) {
            AssignDeref(dest, v);
            return eLookup::FOUND;
        }
        if (raw)
            return eLookup::MISSING;
        if (eLookup r = viaGetMeta(); r != eLookup::MISSING)
            return r;
        break;
    }
    case OT_CLASS: {
        SQObjectPtr v;
        if (AsClass(self)->Get(key, v)) {
            AssignDeref(dest, v);
            return eLookup::FOUND;
        }
        break;
    }
    default:
        break;
    }
    if (!raw) {
        if (const SQObjectPtr* dd = _ss->DefaultDelegate(self._type); dd && dd->_type == OT_TABLE) {
            if (SQObjectPtr* p = AsTable(*dd)->Find(key)) {
                dest = *p;
                return eLookup::FOUND;
            }
        }
    }
    return eLookup::MISSING;
}

bool CSqVM::Get(SQObjectPtr self, SQObjectPtr key, SQObjectPtr& dest, int flags) {
    SQObjectPtr result;
    eLookup r = GetImpl(self, key, result, flags);
    if (r == eLookup::MISSING && (flags & GET_ROOT_FALLBACK)) {
        SQObjectPtr root = CurrentRoot();
        if (!RawEqual(root, self))
            r = GetImpl(root, key, result, 0);
    }
    if (r == eLookup::FOUND) {
        dest = std::move(result);
        return true;
    }
    if (r == eLookup::FAILED)
        return false;
    return RaiseIndexError(key);
}

bool CSqVM::Set(SQObjectPtr self, SQObjectPtr key, SQObjectPtr val, int flags) {
    auto setImpl = [&](const SQObjectPtr& obj) -> eLookup {
        switch (obj._type) {
        case OT_TABLE:
            if (SQObjectPtr* p = AsTable(obj)->Find(key)) {
                *p = val;
                return eLookup::FOUND;
            }
            break;
        case OT_ARRAY:
            if (IsNumeric(key)) {
                SQInteger idx = ToInteger(key);
                CSqArray* a = AsArray(obj);
                if (idx >= 0 && idx < a->Size()) {
                    a->_values[static_cast<size_t>(idx)] = val;
                    return eLookup::FOUND;
                }
            }
            return eLookup::MISSING;
        case OT_INSTANCE:
            if (AsInstance(obj)->Set(key, val))
                return eLookup::FOUND;
            break;
        case OT_CLASS:
            if (AsClass(obj)->SetMember(key, val))
                return eLookup::FOUND;
            return eLookup::MISSING;
        case OT_USERDATA:
            break;
        default:
            return eLookup::MISSING;
        }
        if (flags & GET_RAW)
            return eLookup::MISSING;
        SQObjectPtr mm;
        if (GetMetaMethodOf(obj, MT_SET, mm)) {
            SQObjectPtr args[3] = {obj, key, val};
            SQObjectPtr dummy;
            return CallLookupMeta(mm, args, 3, dummy);
        }
        return eLookup::MISSING;
    };
    eLookup r = setImpl(self);
    if (r == eLookup::MISSING && (flags & GET_ROOT_FALLBACK)) {
        SQObjectPtr root = CurrentRoot();
        if (!RawEqual(root, self))
            r = setImpl(root);
    }
    if (r == eLookup::FOUND)
        return true;
    if (r == eLookup::FAILED)
        return false;
    return RaiseIndexError(key);
}

bool CSqVM::NewSlot(SQObjectPtr self, SQObjectPtr key, SQObjectPtr val, bool bstatic) {
    if (key._type == OT_NULL)
        return RaiseError("null cannot be used as index");
    switch (self._type) {
    case OT_TABLE: {
        CSqTable* t = AsTable(self);
        if (t->_delegate._type != OT_NULL && !t->Find(key)) {
            SQObjectPtr mm;
            if (GetMetaMethodOf(self, MT_NEWSLOT, mm)) {
                SQObjectPtr args[3] = {self, key, val};
                SQObjectPtr dummy;
                return CallWith(mm, args, 3, dummy, false);
            }
        }
        t->NewSlot(key, val);
        return true;
    }
    case OT_CLASS:
        if (!AsClass(self)->NewSlot(key, val, bstatic))
            return RaiseError("trying to modify a class that has already been instantiated");
        return true;
    case OT_INSTANCE:
    case OT_USERDATA: {
        SQObjectPtr mm;
        if (GetMetaMethodOf(self, MT_NEWSLOT, mm)) {
            SQObjectPtr args[3] = {self, key, val};
            SQObjectPtr dummy;
            return CallWith(mm, args, 3, dummy, false);
        }
        if (self._type == OT_INSTANCE)
            return RaiseError("class instances do not support the new slot operator");
        return RaiseError("the new slot operator is not supported by a '%s'", TypeName(self._type));
    }
    default:
        return RaiseError("the new slot operator is not supported by a '%s'", TypeName(self._type));
    }
}

bool CSqVM::NewMember(SQObjectPtr cls, SQObjectPtr key, SQObjectPtr val, SQObjectPtr attrs, bool bstatic,
                      bool raw) {
    if (cls._type != OT_CLASS)
        return RaiseError("new members can only be added to a class");
    CSqClass* c = AsClass(cls);
    SQObjectPtr mm;
    if (!raw && c->GetMetaMethod(MT_NEWMEMBER, mm)) {
        SQObjectPtr args[5] = {cls, key, val, attrs, SQObjectPtr::Bool(bstatic)};
        SQObjectPtr dummy;
        return CallWith(mm, args, 5, dummy, false);
    }
    if (key._type == OT_NULL)
        return RaiseError("null cannot be used as index");
    if (!c->NewSlot(key, val, bstatic))
        return RaiseError("trying to modify a class that has already been instantiated");
    if (attrs._type != OT_NULL)
        c->SetAttributes(key, attrs);
    return true;
}

bool CSqVM::DeleteSlot(SQObjectPtr self, SQObjectPtr key, SQObjectPtr& res) {
    switch (self._type) {
    case OT_TABLE: {
        SQObjectPtr removed;
        if (AsTable(self)->Remove(key, &removed)) {
            res = std::move(removed);
            return true;
        }
        SQObjectPtr mm;
        if (GetMetaMethodOf(self, MT_DELSLOT, mm)) {
            SQObjectPtr args[2] = {self, key};
            return CallWith(mm, args, 2, res, false);
        }
        return RaiseIndexError(key);
    }
    case OT_INSTANCE:
    case OT_USERDATA: {
        SQObjectPtr mm;
        if (GetMetaMethodOf(self, MT_DELSLOT, mm)) {
            SQObjectPtr args[2] = {self, key};
            return CallWith(mm, args, 2, res, false);
        }
        return RaiseError("cannot delete a slot from %s", TypeName(self._type));
    }
    default:
        return RaiseError("cannot delete a slot from %s", TypeName(self._type));
    }
}

bool CSqVM::Exists(const SQObjectPtr& self, const SQObjectPtr& key) {
    switch (self._type) {
    case OT_TABLE:
        return FindAlongChain(self, key) != nullptr;
    case OT_ARRAY:
        return IsNumeric(key) && ToInteger(key) >= 0 && ToInteger(key) < AsArray(self)->Size();
    case OT_STRING:
        return IsNumeric(key) && ToInteger(key) >= 0 && ToInteger(key) < AsString(self)->_len;
    case OT_INSTANCE: {
        SQObjectPtr v;
        return AsInstance(self)->Get(key, v);
    }
    case OT_CLASS: {
        SQObjectPtr v;
        return AsClass(self)->Get(key, v);
    }
    case OT_USERDATA:
        return FindAlongChain(self._unVal.pUserData->_delegate, key) != nullptr;
    default:
        return false;
    }
}

bool CSqVM::Arith(int op, SQObjectPtr a, SQObjectPtr b, SQObjectPtr& res) {
    bool bitwise = op == '&' || op == '|' || op == '^' || op == '<' || op == '>' || op == 'U';
    if (a._type == OT_INTEGER && b._type == OT_INTEGER) {
        uint64_t x = static_cast<uint64_t>(AsInt(a)), y = static_cast<uint64_t>(AsInt(b));
        SQInteger sx = AsInt(a), sy = AsInt(b);
        switch (op) {
        case '+': res = SQObjectPtr::Integer(static_cast<SQInteger>(x + y)); return true;
        case '-': res = SQObjectPtr::Integer(static_cast<SQInteger>(x - y)); return true;
        case '*': res = SQObjectPtr::Integer(static_cast<SQInteger>(x * y)); return true;
        case '/':
            if (sy == 0)
                return RaiseError("division by zero");
            res = SQObjectPtr::Integer(sy == -1 ? static_cast<SQInteger>(0 - x) : sx / sy);
            return true;
        case '%':
            if (sy == 0)
                return RaiseError("modulo by zero");
            res = SQObjectPtr::Integer(sy == -1 ? 0 : sx % sy);
            return true;
        case '&': res = SQObjectPtr::Integer(sx & sy); return true;
        case '|': res = SQObjectPtr::Integer(sx | sy); return true;
        case '^': res = SQObjectPtr::Integer(sx ^ sy); return true;
        case '<': res = SQObjectPtr::Integer(static_cast<SQInteger>(x << (sy & 63))); return true;
        case '>': res = SQObjectPtr::Integer(sx >> (sy & 63)); return true;
        case 'U': res = SQObjectPtr::Integer(static_cast<SQInteger>(x >> (sy & 63))); return true;
        default: break;
        }
    }
    if (bitwise)
        return RaiseError("bitwise op between '%s' and '%s'", TypeName(a._type), TypeName(b._type));
    if (IsNumeric(a) && IsNumeric(b)) {
        SQFloat x = ToFloat(a), y = ToFloat(b);
        switch (op) {
        case '+': res = SQObjectPtr::Float(x + y); return true;
        case '-': res = SQObjectPtr::Float(x - y); return true;
        case '*': res = SQObjectPtr::Float(x * y); return true;
        case '/': res = SQObjectPtr::Float(x / y); return true;
        case '%': res = SQObjectPtr::Float(std::fmod(x, y)); return true;
        default: break;
        }
    }
    if (op == '+' && (a._type == OT_STRING || b._type == OT_STRING)) {
        SQObjectPtr sa, sb;
        if (!ToString(a, sa) || !ToString(b, sb))
            return false;
        SQInteger la = AsString(sa)->_len, lb = AsString(sb)->_len;
        if (la + lb > kMaxStringLength)
            return RaiseError("string too long");
        std::string s;
        s.reserve(static_cast<size_t>(la + lb));
        s.append(AsString(sa)->View());
        s.append(AsString(sb)->View());
        res = _ss->Str(s);
        return true;
    }
    eMetaMethod mt;
    switch (op) {
    case '+': mt = MT_ADD; break;
    case '-': mt = MT_SUB; break;
    case '*': mt = MT_MUL; break;
    case '/': mt = MT_DIV; break;
    case '%': mt = MT_MODULO; break;
    default: return RaiseError("invalid arith op");
    }
    SQObjectPtr mm;
    if (GetMetaMethodOf(a, mt, mm)) {
        SQObjectPtr args[2] = {a, b};
        return CallWith(mm, args, 2, res, false);
    }
    return RaiseError("arith op %c on between '%s' and '%s'", op, TypeName(a._type), TypeName(b._type));
}

bool CSqVM::Negate(SQObjectPtr a, SQObjectPtr& res) {
    if (a._type == OT_INTEGER) {
        res = SQObjectPtr::Integer(static_cast<SQInteger>(0 - static_cast<uint64_t>(AsInt(a))));
        return true;
    }
    if (a._type == OT_FLOAT) {
        res = SQObjectPtr::Float(-AsFloat(a));
        return true;
    }
    SQObjectPtr mm;
    if (GetMetaMethodOf(a, MT_UNM, mm)) {
        SQObjectPtr args[1] = {a};
        return CallWith(mm, args, 1, res, false);
    }
    return RaiseError("attempt to negate a %s", TypeName(a._type));
}

bool CSqVM::Compare(SQObjectPtr a, SQObjectPtr b, int& res) {
    if (a._type == OT_INTEGER && b._type == OT_INTEGER) {
        res = AsInt(a) < AsInt(b) ? -1 : AsInt(a) > AsInt(b) ? 1 : 0;
        return true;
    }
    if (IsNumeric(a) && IsNumeric(b)) {
        SQFloat x = ToFloat(a), y = ToFloat(b);
        res = x < y ? -1 : x > y ? 1 : x == y ? 0 : 2;
        return true;
    }
    if (a._type == OT_STRING && b._type == OT_STRING) {
        int c = AsString(a)->View().compare(AsString(b)->View());
        res = c < 0 ? -1 : c > 0 ? 1 : 0;
        return true;
    }
    if (a._type == OT_BOOL && b._type == OT_BOOL) {
        res = AsInt(a) < AsInt(b) ? -1 : AsInt(a) > AsInt(b) ? 1 : 0;
        return true;
    }
    SQObjectPtr mm;
    if (GetMetaMethodOf(a, MT_CMP, mm)) {
        SQObjectPtr args[2] = {a, b};
        SQObjectPtr r;
        if (!CallWith(mm, args, 2, r, false))
            return false;
        if (!IsNumeric(r))
            return RaiseError("_cmp must return an integer");
        SQInteger v = ToInteger(r);
        res = v < 0 ? -1 : v > 0 ? 1 : 0;
        return true;
    }
    return RaiseError("comparison between '%s' and '%s'", TypeName(a._type), TypeName(b._type));
}

SQObjectPtr CSqVM::PrintableValue(const SQObject& o) {
    char buf[64];
    switch (o._type) {
    case OT_STRING: return SQObjectPtr(o);
    case OT_NULL: return _ss->Str("null");
    case OT_INTEGER:
        snprintf(buf, sizeof(buf), "%lld", static_cast<long long>(AsInt(o)));
        return _ss->Str(buf);
    case OT_FLOAT: return _ss->Str(FloatText(AsFloat(o)));
    case OT_BOOL: return _ss->Str(AsInt(o) ? "true" : "false");
    default:
        snprintf(buf, sizeof(buf), "(%s : %p)", TypeName(o._type), o._unVal.pUserPointer);
        return _ss->Str(buf);
    }
}

bool CSqVM::ToString(SQObjectPtr o, SQObjectPtr& res) {
    if (o._type == OT_STRING) {
        res = std::move(o);
        return true;
    }
    SQObjectPtr mm;
    if ((o._type == OT_INSTANCE || o._type == OT_TABLE || o._type == OT_USERDATA) &&
        GetMetaMethodOf(o, MT_TOSTRING, mm)) {
        SQObjectPtr args[1] = {o};
        SQObjectPtr r;
        if (!CallWith(mm, args, 1, r, false))
            return false;
        if (r._type == OT_STRING) {
            res = std::move(r);
            return true;
        }
    }
    res = PrintableValue(o);
    return true;
}

bool CSqVM::TypeOf(SQObjectPtr o, SQObjectPtr& res) {
    SQObjectPtr mm;
    if ((o._type == OT_INSTANCE || o._type == OT_TABLE || o._type == OT_USERDATA) &&
        GetMetaMethodOf(o, MT_TYPEOF, mm)) {
        SQObjectPtr args[1] = {o};
        return CallWith(mm, args, 1, res, false);
    }
    res = _ss->Str(TypeName(o._type));
    return true;
}

bool CSqVM::Clone(SQObjectPtr o, SQObjectPtr& res) {
    switch (o._type) {
    case OT_TABLE:
    case OT_INSTANCE: {
        // the copy keeps the delegate or class, whose _cloned hears of it
        SQObjectPtr copy = o._type == OT_TABLE ? SQObjectPtr(AsTable(o)->Clone()) : SQObjectPtr(AsInstance(o)->Clone());
        SQObjectPtr mm;
        if (GetMetaMethodOf(copy, MT_CLONED, mm)) {
            SQObjectPtr args[2] = {copy, o};
            SQObjectPtr dummy;
            if (!CallWith(mm, args, 2, dummy, false))
                return false;
        }
        res = std::move(copy);
        return true;
    }
    case OT_ARRAY: {
        CSqArray* a = CSqArray::Create(_ss, 0);
        a->_values = AsArray(o)->_values;
        res = SQObjectPtr(a);
        return true;
    }
    default:
        res = std::move(o);
        return true;
    }
}

bool CSqVM::InstanceOf(const SQObjectPtr& inst, const SQObjectPtr& cls, bool& res) {
    if (cls._type != OT_CLASS)
        return RaiseError("cannot apply instanceof between a %s and a %s", TypeName(inst._type), TypeName(cls._type));
    res = inst._type == OT_INSTANCE && AsInstance(inst)->InstanceOf(AsClass(cls));
    return true;
}

bool CSqVM::IsEqual(const SQObject& a, const SQObject& b) {
    if (a._type == b._type) {
        if (a._type == OT_FLOAT)
            return a._unVal.fFloat == b._unVal.fFloat;
        return a._unVal.raw == b._unVal.raw;
    }
    if (IsNumeric(a) && IsNumeric(b))
        return ToFloat(a) == ToFloat(b);
    return false;
}

bool CSqVM::CreateClass(SQObjectPtr base, SQObjectPtr attrs, SQObjectPtr& res) {
    if (base._type != OT_NULL && base._type != OT_CLASS)
        return RaiseError("trying to inherit from a %s", TypeName(base._type));
    CSqClass* cls = CSqClass::Create(_ss, base._type == OT_CLASS ? AsClass(base) : nullptr);
    SQObjectPtr c(cls);
    cls->_attributes = attrs;
    if (base._type == OT_CLASS) {
        SQObjectPtr mm;
        if (AsClass(base)->GetMetaMethod(MT_INHERITED, mm)) {
            SQObjectPtr args[2] = {c, attrs};
            SQObjectPtr dummy;
            if (!CallWith(mm, args, 2, dummy, false))
                return false;
        }
    }
    res = std::move(c);
    return true;
}

bool CSqVM::IterNext(const SQObjectPtr& obj, SQObjectPtr& iter, SQObjectPtr& key, SQObjectPtr& val, bool& done) {
    done = false;
    auto metaIterate = [&](const SQObjectPtr& mm) -> bool {
        SQObjectPtr args[2] = {obj, iter};
        SQObjectPtr next;
        if (!CallWith(mm, args, 2, next, false))
            return false;
        if (next._type == OT_NULL) {
            done = true;
            return true;
        }
        SQObjectPtr v;
        if (!Get(obj, next, v, 0))
            return false;
        iter = next;
        key = std::move(next);
        val = std::move(v);
        return true;
    };
    SQInteger pos = iter._type == OT_INTEGER ? AsInt(iter) : 0;
    switch (obj._type) {
    case OT_ARRAY: {
        CSqArray* a = AsArray(obj);
        if (pos < 0 || pos >= a->Size()) {
            done = true;
            return true;
        }
        key = SQObjectPtr::Integer(pos);
        AssignDeref(val, a->_values[static_cast<size_t>(pos)]);
        iter = SQObjectPtr::Integer(pos + 1);
        return true;
    }
    case OT_STRING: {
        CSqString* s = AsString(obj);
        if (pos < 0 || pos >= s->_len) {
            done = true;
            return true;
        }
        key = SQObjectPtr::Integer(pos);
        val = SQObjectPtr::Integer(static_cast<unsigned char>(s->Str()[pos]));
        iter = SQObjectPtr::Integer(pos + 1);
        return true;
    }
    case OT_TABLE: {
        SQObjectPtr mm;
        if (GetMetaMethodOf(obj, MT_NEXTI, mm))
            return metaIterate(mm);
        SQObjectPtr v;
        SQInteger next = AsTable(obj)->Next(pos, key, v);
        if (next < 0) {
            done = true;
            return true;
        }
        AssignDeref(val, v);
        iter = SQObjectPtr::Integer(next);
        return true;
    }
    case OT_CLASS:
    case OT_INSTANCE: {
        // both walk the class's members; an instance reads its own fields
        bool isClass = obj._type == OT_CLASS;
        CSqClass* c = isClass ? AsClass(obj) : AsInstance(obj)->Class();
        SQObjectPtr mm;
        if (!isClass && c->GetMetaMethod(MT_NEXTI, mm))
            return metaIterate(mm);
        if (c->_members._type != OT_TABLE) {
            done = true;
            return true;
        }
        SQObjectPtr ref;
        SQInteger next = AsTable(c->_members)->Next(pos, key, ref);
        if (next < 0) {
            done = true;
            return true;
        }
        if (isClass)
            c->Get(key, val);
        else
            AsInstance(obj)->Get(key, val);
        iter = SQObjectPtr::Integer(next);
        return true;
    }
    case OT_USERDATA: {
        SQObjectPtr mm;
        if (GetMetaMethodOf(obj, MT_NEXTI, mm))
            return metaIterate(mm);
        return RaiseError("cannot iterate %s", TypeName(obj._type));
    }
    default:
        return RaiseError("cannot iterate %s", TypeName(obj._type));
    }
}

bool CSqVM::StackInfos(SQInteger level, SQStackInfos& si) {
    const SQCallInfo* frame = FrameAt(level);
    if (!frame)
        return false;
    const SQCallInfo& ci = *frame;
    si.funcname = nullptr;
    si.source = nullptr;
    si.line = -1;
    si.column = -1;
    if (ci._closure) {
        CSqFunctionProto* p = ci._closure->Proto();
        si.funcname = p->_name._type == OT_STRING ? StrOf(p->_name) : nullptr;
        si.source = p->_sourcename._type == OT_STRING ? StrOf(p->_sourcename) : nullptr;
        const SQLineInfo& li = p->LineAt(ci.Pc());
        si.line = li.line;
        si.column = li.column;
    } else if (ci._native) {
        si.funcname = ci._native->_name._type == OT_STRING ? StrOf(ci._native->_name) : nullptr;
        si.source = "NATIVE";
    }
    return true;
}

} // namespace Squirrel
