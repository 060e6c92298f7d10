#include "SqVM.h"

#include <algorithm>
#include <new>

namespace Squirrel {

// ---------------------------------------------------------------- counting

CSqRefCounted::~CSqRefCounted() {
    if (_weakref) {
        _weakref->_obj._type = OT_NULL;
        _weakref->_obj._unVal.raw = 0;
        _weakref = nullptr;
    }
}

CSqWeakRef* CSqRefCounted::GetWeakRef(SQObjectType type) {
    if (!_weakref) {
        _weakref = new CSqWeakRef(_ss);
        _weakref->_obj._type = type;
        _weakref->_obj._unVal.pRefCounted = this;
    }
    return _weakref;
}

CSqWeakRef::~CSqWeakRef() {
    if (_obj._type != OT_NULL)
        _obj._unVal.pRefCounted->_weakref = nullptr;
}

void ReleaseZero(CSqRefCounted* p) {
    // A dying object is no longer reachable through its weak reference, even while it waits in the queue.
    if (p->_weakref) {
        p->_weakref->_obj._type = OT_NULL;
        p->_weakref->_obj._unVal.raw = 0;
        p->_weakref = nullptr;
    }
    CSqSharedState* ss = p->_ss;
    if (ss->_freeing) {
        ss->_pendingFree.push_back(p);
        return;
    }
    ss->_freeing = true;
    p->Free();
    while (!ss->_pendingFree.empty()) {
        CSqRefCounted* q = ss->_pendingFree.back();
        ss->_pendingFree.pop_back();
        q->Free();
    }
    ss->_freeing = false;
}

SQObjectPtr::SQObjectPtr(CSqTable* p) : SQObjectPtr(OT_TABLE, p) {}
SQObjectPtr::SQObjectPtr(CSqArray* p) : SQObjectPtr(OT_ARRAY, p) {}
SQObjectPtr::SQObjectPtr(CSqClosure* p) : SQObjectPtr(OT_CLOSURE, p) {}
SQObjectPtr::SQObjectPtr(CSqNativeClosure* p) : SQObjectPtr(OT_NATIVECLOSURE, p) {}
SQObjectPtr::SQObjectPtr(CSqString* p) : SQObjectPtr(OT_STRING, p) {}
SQObjectPtr::SQObjectPtr(CSqGenerator* p) : SQObjectPtr(OT_GENERATOR, p) {}
SQObjectPtr::SQObjectPtr(CSqUserData* p) : SQObjectPtr(OT_USERDATA, p) {}
SQObjectPtr::SQObjectPtr(CSqFunctionProto* p) : SQObjectPtr(OT_FUNCPROTO, p) {}
SQObjectPtr::SQObjectPtr(CSqVM* p) : SQObjectPtr(OT_THREAD, p) {}
SQObjectPtr::SQObjectPtr(CSqClass* p) : SQObjectPtr(OT_CLASS, p) {}
SQObjectPtr::SQObjectPtr(CSqInstance* p) : SQObjectPtr(OT_INSTANCE, p) {}
SQObjectPtr::SQObjectPtr(CSqWeakRef* p) : SQObjectPtr(OT_WEAKREF, p) {}
SQObjectPtr::SQObjectPtr(CSqOuter* p) : SQObjectPtr(OT_OUTER, p) {}

const char* RawTypeName(SQUnsignedInteger32 rawtype) {
    switch (rawtype) {
    case _RT_NULL: return "null";
    case _RT_INTEGER: return "integer";
    case _RT_FLOAT: return "float";
    case _RT_BOOL: return "bool";
    case _RT_STRING: return "string";
    case _RT_TABLE: return "table";
    case _RT_ARRAY: return "array";
    case _RT_USERDATA: return "userdata";
    case _RT_CLOSURE: return "function";
    case _RT_NATIVECLOSURE: return "function";
    case _RT_GENERATOR: return "generator";
    case _RT_USERPOINTER: return "userpointer";
    case _RT_THREAD: return "thread";
    case _RT_FUNCPROTO: return "function";
    case _RT_CLASS: return "class";
    case _RT_INSTANCE: return "instance";
    case _RT_WEAKREF: return "weakref";
    case _RT_OUTER: return "outer";
    default: return "unknown";
    }
}

const char* TypeName(SQObjectType t) { return RawTypeName(sq_rawtype(t)); }

// ---------------------------------------------------------------- strings

SQHash HashString(const char* s, size_t len) {
    uint64_t h = 1469598103934665603ULL ^ len;
    if (len <= 256) {
        for (size_t i = 0; i < len; ++i)
            h = (h ^ static_cast<unsigned char>(s[i])) * 1099511628211ULL;
    } else {
        // long texts: a sample of the body plus both ends, so building big strings stays linear
        size_t step = len / 128;
        for (size_t i = 0; i < len; i += step)
            h = (h ^ static_cast<unsigned char>(s[i])) * 1099511628211ULL;
        for (size_t i = 0; i < 32; ++i) {
            h = (h ^ static_cast<unsigned char>(s[i])) * 1099511628211ULL;
            h = (h ^ static_cast<unsigned char>(s[len - 1 - i])) * 1099511628211ULL;
        }
    }
    return MixHash(h);
}

CSqStringTable::CSqStringTable() { _buckets.assign(256, nullptr); }

CSqStringTable::~CSqStringTable() = default;

CSqString* CSqStringTable::Add(CSqSharedState* ss, const char* s, SQInteger len) {
    if (len < 0)
        len = 0;
    size_t n = static_cast<size_t>(len);
    SQHash h = HashString(s, n);
    size_t idx = h & (_buckets.size() - 1);
    for (CSqString* p = _buckets[idx]; p; p = p->_next)
        if (p->_hash == h && static_cast<size_t>(p->_len) == n && (n == 0 || std::memcmp(p->Str(), s, n) == 0))
            return p;
    void* mem = ::operator new(sizeof(CSqString) + n + 1);
    CSqString* str = new (mem) CSqString(ss);
    char* data = reinterpret_cast<char*>(str + 1);
    if (n)
        std::memcpy(data, s, n);
    data[n] = 0;
    str->_len = len;
    str->_hash = h;
    str->_next = _buckets[idx];
    _buckets[idx] = str;
    if (++_count > _buckets.size())
        Resize(_buckets.size() * 2);
    return str;
}

void CSqStringTable::Remove(CSqString* s) {
    size_t idx = s->_hash & (_buckets.size() - 1);
    CSqString** pp = &_buckets[idx];
    while (*pp) {
        if (*pp == s) {
            *pp = s->_next;
            --_count;
            return;
        }
        pp = &(*pp)->_next;
    }
}

void CSqStringTable::Resize(size_t n) {
    std::vector<CSqString*> nb(n, nullptr);
    for (CSqString* head : _buckets) {
        while (head) {
            CSqString* next = head->_next;
            size_t idx = head->_hash & (n - 1);
            head->_next = nb[idx];
            nb[idx] = head;
            head = next;
        }
    }
    _buckets.swap(nb);
}

CSqString* CSqString::Create(CSqSharedState* ss, const char* s, SQInteger len) {
    return ss->_strings.Add(ss, s, len);
}

void CSqString::Free() {
    _ss->_strings.Remove(this);
    this->~CSqString();
    ::operator delete(this);
}

// ---------------------------------------------------------------- collectables

CSqCollectable::CSqCollectable(CSqSharedState* ss) : CSqRefCounted(ss) {
    _gcNext = ss->_gcHead;
    if (_gcNext)
        _gcNext->_gcPrev = this;
    ss->_gcHead = this;
}

CSqCollectable::~CSqCollectable() {
    if (_gcPrev)
        _gcPrev->_gcNext = _gcNext;
    else
        _ss->_gcHead = _gcNext;
    if (_gcNext)
        _gcNext->_gcPrev = _gcPrev;
}

void CSqGC::MarkObject(const SQObject& o) {
    switch (o._type) {
    case OT_TABLE: MarkCollectable(o._unVal.pTable); break;
    case OT_ARRAY: MarkCollectable(o._unVal.pArray); break;
    case OT_USERDATA: MarkCollectable(o._unVal.pUserData); break;
    case OT_CLOSURE: MarkCollectable(o._unVal.pClosure); break;
    case OT_NATIVECLOSURE: MarkCollectable(o._unVal.pNativeClosure); break;
    case OT_GENERATOR: MarkCollectable(o._unVal.pGenerator); break;
    case OT_THREAD: MarkCollectable(o._unVal.pThread); break;
    case OT_CLASS: MarkCollectable(o._unVal.pClass); break;
    case OT_INSTANCE: MarkCollectable(o._unVal.pInstance); break;
    case OT_OUTER: MarkCollectable(o._unVal.pOuter); break;
    default: break;
    }
}

// ---------------------------------------------------------------- tables

CSqTable* CSqTable::Create(CSqSharedState* ss, SQInteger ninitial) {
    CSqTable* t = new CSqTable(ss);
    if (ninitial > 0)
        t->Rehash(static_cast<size_t>(std::min<SQInteger>(ninitial, 1 << 20)));
    return t;
}

void CSqTable::Rehash(size_t minEntries) {
    size_t live = static_cast<size_t>(_count);
    size_t need = std::max(minEntries, live + 1);
    size_t cap = 4;
    while (cap < need + need / 2)
        cap <<= 1;
    std::vector<Entry> entries;
    entries.reserve(cap);
    for (auto& e : _entries)
        if (e.key._type != OT_NULL)
            entries.push_back(std::move(e));
    _entries.swap(entries);
    _index.assign(cap * 2, kEmpty);
    _mask = cap * 2 - 1;
    for (size_t i = 0; i < _entries.size(); ++i) {
        size_t slot = _entries[i].hash & _mask;
        while (_index[slot] != kEmpty)
            slot = (slot + 1) & _mask;
        _index[slot] = static_cast<int32_t>(i);
    }
}

void CSqTable::NewSlot(const SQObject& key, const SQObject& val) {
    if (SQObjectPtr* p = Find(key)) {
        *p = val;
        return;
    }
    if (_entries.size() >= (_index.size() >> 1))
        Rehash(static_cast<size_t>(_count) + 1);
    SQHash h = HashKey(key);
    size_t slot = h & _mask;
    while (_index[slot] >= 0)
        slot = (slot + 1) & _mask;
    Entry e;
    e.key = key;
    e.val = val;
    e.hash = h;
    _entries.push_back(std::move(e));
    _index[slot] = static_cast<int32_t>(_entries.size() - 1);
    ++_count;
}

bool CSqTable::Remove(const SQObject& key, SQObjectPtr* removed) {
    int32_t* cell = FindCell(key);
    if (!cell)
        return false;
    Entry& en = _entries[static_cast<size_t>(*cell)];
    SQObjectPtr oldKey = std::move(en.key);
    SQObjectPtr oldVal = std::move(en.val);
    en.key.Null();
    *cell = kRemoved;
    --_count;
    if (removed)
        *removed = std::move(oldVal);
    return true;
}

SQInteger CSqTable::Next(SQInteger pos, SQObjectPtr& key, SQObjectPtr& val) const {
    if (pos < 0)
        pos = 0;
    for (size_t i = static_cast<size_t>(pos); i < _entries.size(); ++i) {
        if (_entries[i].key._type != OT_NULL) {
            key = _entries[i].key;
            val = _entries[i].val;
            return static_cast<SQInteger>(i + 1);
        }
    }
    return -1;
}

void CSqTable::Clear() {
    std::vector<Entry> old;
    old.swap(_entries);
    _index.assign(_index.size(), kEmpty);
    _count = 0;
    // `old` dies here, after the table is consistent again
}

CSqTable* CSqTable::Clone() {
    CSqTable* t = Create(_ss, _count);
    for (auto& e : _entries)
        if (e.key._type != OT_NULL)
            t->NewSlot(e.key, e.val);
    t->_delegate = _delegate;
    return t;
}

bool CSqTable::SetDelegate(CSqTable* d) {
    for (CSqTable* p = d; p; p = p->_delegate._type == OT_TABLE ? AsTable(p->_delegate) : nullptr)
        if (p == this)
            return false;
    if (d)
        _delegate = SQObjectPtr(d);
    else
        _delegate.Null();
    return true;
}

void CSqTable::Mark(CSqGC& gc) {
    for (auto& e : _entries) {
        gc.MarkObject(e.key);
        gc.MarkObject(e.val);
    }
    gc.MarkObject(_delegate);
}

void CSqTable::Finalize() {
    Clear();
    _delegate.Null();
}

// ---------------------------------------------------------------- arrays and user data

CSqArray* CSqArray::Create(CSqSharedState* ss, SQInteger size) {
    CSqArray* a = new CSqArray(ss);
    if (size > 0)
        a->_values.resize(static_cast<size_t>(size));
    return a;
}

void CSqArray::Mark(CSqGC& gc) {
    for (auto& v : _values)
        gc.MarkObject(v);
}

CSqUserData* CSqUserData::Create(CSqSharedState* ss, SQInteger size) {
    CSqUserData* u = new CSqUserData(ss);
    u->_size = size;
    size_t cells = (static_cast<size_t>(size) + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
    u->_data = std::make_unique<std::max_align_t[]>(cells ? cells : 1);
    return u;
}

CSqUserData::~CSqUserData() {
    if (_hook)
        _hook(_data.get(), _size);
}

void CSqUserData::Mark(CSqGC& gc) { gc.MarkObject(_delegate); }

// ---------------------------------------------------------------- functions

CSqClosure* CSqClosure::Create(CSqSharedState* ss, CSqFunctionProto* proto, CSqWeakRef* root) {
    CSqClosure* c = new CSqClosure(ss);
    c->_function = SQObjectPtr(proto);
    c->_outervalues.resize(proto->_outervalues.size());
    c->_defaultparams.resize(static_cast<size_t>(proto->_ndefaults));
    if (root)
        c->_root = SQObjectPtr(root);
    return c;
}

CSqClosure* CSqClosure::Clone() {
    CSqClosure* c = new CSqClosure(_ss);
    c->_function = _function;
    c->_outervalues = _outervalues;
    c->_defaultparams = _defaultparams;
    c->_env = _env;
    c->_root = _root;
    c->_base = _base;
    return c;
}

void CSqClosure::Mark(CSqGC& gc) {
    for (auto& o : _outervalues)
        gc.MarkObject(o);
    for (auto& d : _defaultparams)
        gc.MarkObject(d);
    gc.MarkObject(_base);
}

void CSqClosure::Finalize() {
    // sizes stay, so that a finalised closure that is still called indexes valid (null) slots
    for (auto& d : _defaultparams)
        d.Null();
    _base.Null();
}

CSqNativeClosure* CSqNativeClosure::Create(CSqSharedState* ss, SQFUNCTION func, SQInteger nouters) {
    CSqNativeClosure* c = new CSqNativeClosure(ss);
    c->_function = func;
    c->_outervalues.resize(static_cast<size_t>(nouters));
    return c;
}

CSqNativeClosure* CSqNativeClosure::Clone() {
    CSqNativeClosure* c = new CSqNativeClosure(_ss);
    c->_function = _function;
    c->_outervalues = _outervalues;
    c->_typecheck = _typecheck;
    c->_nparamscheck = _nparamscheck;
    c->_name = _name;
    c->_env = _env;
    return c;
}

void CSqNativeClosure::Mark(CSqGC& gc) {
    for (auto& o : _outervalues)
        gc.MarkObject(o);
}

void CSqNativeClosure::Finalize() {
    for (auto& o : _outervalues)
        o.Null();
}

CSqGenerator::CSqGenerator(CSqSharedState* ss, CSqClosure* closure) : CSqCollectable(ss) {
    _closure = SQObjectPtr(closure);
}

void CSqGenerator::Mark(CSqGC& gc) {
    gc.MarkObject(_closure);
    for (auto& v : _stack)
        gc.MarkObject(v);
}

// ---------------------------------------------------------------- classes

CSqClass* CSqClass::Create(CSqSharedState* ss, CSqClass* base) {
    CSqClass* c = new CSqClass(ss);
    if (base) {
        c->_base = SQObjectPtr(base);
        c->_members = SQObjectPtr(AsTable(base->_members)->Clone());
        c->_defaultvalues = base->_defaultvalues;
        c->_methods = base->_methods;
        for (int i = 0; i < MT_LAST; ++i)
            c->_metamethods[i] = base->_metamethods[i];
        c->_constructor = base->_constructor;
        c->_hook = base->_hook;
        c->_udsize = base->_udsize;
    } else {
        c->_members = SQObjectPtr(CSqTable::Create(ss, 0));
    }
    return c;
}

CSqClass::~CSqClass() = default;

bool CSqClass::NewSlot(const SQObjectPtr& key, const SQObjectPtr& val, bool bstatic) {
    bool isMethod = bstatic || val._type == OT_CLOSURE || val._type == OT_NATIVECLOSURE;
    CSqTable* members = AsTable(_members);
    SQObjectPtr ref;
    bool exists = members->Get(key, ref);
    if (exists && MemberIsField(AsInt(ref)) == !isMethod) {
        size_t idx = static_cast<size_t>(MemberIndex(AsInt(ref)));
        if (isMethod) {
            if (idx >= _methods.size())
                return false;
            _methods[idx].val = val;
        } else {
            if (idx >= _defaultvalues.size())
                return false;
            _defaultvalues[idx].val = val;
        }
    } else {
        if (_locked)
            return false;
        if (isMethod) {
            _methods.push_back({val, SQObjectPtr()});
            members->NewSlot(key, SQObjectPtr::Integer(static_cast<SQInteger>((_methods.size() - 1) << 2) | MEMBER_METHOD));
        } else {
            _defaultvalues.push_back({val, SQObjectPtr()});
            members->NewSlot(key, SQObjectPtr::Integer(static_cast<SQInteger>((_defaultvalues.size() - 1) << 2) | MEMBER_FIELD));
        }
    }
    if (val._type == OT_CLOSURE && AsClosure(val)->_base._type == OT_NULL)
        AsClosure(val)->_base = _base;
    if (key._type == OT_STRING) {
        SQObjectPtr mt;
        if (AsTable(_ss->_metamethodsmap)->Get(key, mt))
            _metamethods[AsInt(mt)] = val;
        else if (RawEqual(key, _ss->_constructorname))
            _constructor = val;
    }
    return true;
}

SQClassMember* CSqClass::FindMember(const SQObject& key) {
    SQObjectPtr* ref = MemberRef(key);
    if (!ref)
        return nullptr;
    size_t idx = static_cast<size_t>(MemberIndex(AsInt(*ref)));
    auto& vec = MemberIsField(AsInt(*ref)) ? _defaultvalues : _methods;
    return idx < vec.size() ? &vec[idx] : nullptr;
}

bool CSqClass::Get(const SQObject& key, SQObjectPtr& val) {
    SQClassMember* m = FindMember(key);
    if (!m)
        return false;
    val = m->val;
    return true;
}

bool CSqClass::SetMember(const SQObject& key, const SQObject& val) {
    SQObjectPtr* ref = MemberRef(key);
    if (!ref)
        return false;
    SQObjectPtr v(val);
    return NewSlot(SQObjectPtr(key), v, !MemberIsField(AsInt(*ref)));
}

bool CSqClass::GetAttributes(const SQObject& key, SQObjectPtr& out) {
    if (key._type == OT_NULL) {
        out = _attributes;
        return true;
    }
    SQClassMember* m = FindMember(key);
    if (!m)
        return false;
    out = m->attrs;
    return true;
}

bool CSqClass::SetAttributes(const SQObject& key, const SQObjectPtr& val) {
    if (key._type == OT_NULL) {
        _attributes = val;
        return true;
    }
    SQClassMember* m = FindMember(key);
    if (!m)
        return false;
    m->attrs = val;
    return true;
}

bool CSqClass::IsDerivedFrom(const CSqClass* other) const {
    for (const CSqClass* c = this; c; c = c->Base())
        if (c == other)
            return true;
    return false;
}

CSqInstance* CSqClass::CreateInstance() {
    _locked = true;
    CSqInstance* inst = new CSqInstance(_ss);
    inst->_class = SQObjectPtr(this);
    inst->_values.reserve(_defaultvalues.size());
    for (auto& d : _defaultvalues)
        inst->_values.push_back(d.val);
    inst->_hook = _hook;
    if (_udsize > 0) {
        size_t cells = (static_cast<size_t>(_udsize) + sizeof(std::max_align_t) - 1) / sizeof(std::max_align_t);
        inst->_udmem = std::make_unique<std::max_align_t[]>(cells);
        inst->_udsize = _udsize;
        inst->_userpointer = inst->_udmem.get();
    }
    return inst;
}

void CSqClass::Mark(CSqGC& gc) {
    gc.MarkObject(_base);
    gc.MarkObject(_members);
    for (auto& m : _defaultvalues) {
        gc.MarkObject(m.val);
        gc.MarkObject(m.attrs);
    }
    for (auto& m : _methods) {
        gc.MarkObject(m.val);
        gc.MarkObject(m.attrs);
    }
    for (auto& m : _metamethods)
        gc.MarkObject(m);
    gc.MarkObject(_attributes);
    gc.MarkObject(_constructor);
}

void CSqClass::Finalize() {
    _base.Null();
    if (_members._type == OT_TABLE)
        AsTable(_members)->Clear();
    std::vector<SQClassMember>().swap(_defaultvalues);
    std::vector<SQClassMember>().swap(_methods);
    for (auto& m : _metamethods)
        m.Null();
    _attributes.Null();
    _constructor.Null();
}

CSqInstance::~CSqInstance() {
    // the hook runs exactly once, when the instance's storage goes away
    if (_hook)
        _hook(_userpointer, _udsize);
}

bool CSqInstance::Get(const SQObject& key, SQObjectPtr& val) {
    bool field;
    SQObjectPtr* slot = MemberSlot(key, field);
    if (!slot)
        return false;
    val = *slot;
    return true;
}

bool CSqInstance::Set(const SQObject& key, const SQObject& val) {
    SQObjectPtr* slot = FieldSlot(key);
    if (!slot)
        return false;
    *slot = val;
    return true;
}

bool CSqInstance::InstanceOf(const CSqClass* c) const { return Class()->IsDerivedFrom(c); }

CSqInstance* CSqInstance::Clone() {
    CSqInstance* inst = Class()->CreateInstance();
    for (size_t i = 0; i < inst->_values.size() && i < _values.size(); ++i)
        inst->_values[i] = _values[i];
    return inst;
}

void CSqInstance::Mark(CSqGC& gc) {
    gc.MarkObject(_class);
    for (auto& v : _values)
        gc.MarkObject(v);
}

void CSqInstance::Finalize() {
    for (auto& v : _values)
        v.Null();
}

} // namespace Squirrel
