#pragma once
// Value representation of the interpreter: tagged values whose heap objects carry an intrusive reference
// count. Objects that can hold references to others are "collectable": they sit in the shared state's list so
// that the cycle collector can find garbage cycles that counting alone never frees.

#include "Squirrel/Squirrel.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Squirrel {

class CSqSharedState;
class CSqGC;

inline bool IsRefCounted(SQObjectType t) { return (t & SQOBJECT_REF_COUNTED) != 0; }

class CSqRefCounted {
public:
    explicit CSqRefCounted(CSqSharedState* ss) : _ss(ss) {}
    CSqRefCounted(const CSqRefCounted&) = delete;
    CSqRefCounted& operator=(const CSqRefCounted&) = delete;
    virtual ~CSqRefCounted();
    // Frees the storage once the count reached zero.
    virtual void Free() { delete this; }
    // The object's single weak reference, made on first request.
    CSqWeakRef* GetWeakRef(SQObjectType type);

    uint32_t _uiRef = 0;
    uint32_t _gcMark = 0;
    CSqWeakRef* _weakref = nullptr;
    CSqSharedState* _ss;
};

// Frees an object whose count reached zero. Nested frees are queued and drained by the outermost call, so
// releasing a long chain of objects never recurses deeply.
void ReleaseZero(CSqRefCounted* p);
// Value copies run on every instruction: they must be inlined even into the large bytecode loop.
#define SQ_HOT __attribute__((always_inline))
SQ_HOT inline void AddRefObj(CSqRefCounted* p) { ++p->_uiRef; }
SQ_HOT inline void ReleaseObj(CSqRefCounted* p) {
    if (--p->_uiRef == 0)
        ReleaseZero(p);
}

class SQObjectPtr : public SQObject {
public:
    SQObjectPtr() {
        _type = OT_NULL;
        _unVal.raw = 0;
    }
    SQ_HOT SQObjectPtr(const SQObjectPtr& o) : SQObject(o) {
        if (IsRefCounted(_type))
            AddRefObj(_unVal.pRefCounted);
    }
    SQObjectPtr(const SQObject& o) : SQObject(o) {
        if (IsRefCounted(_type))
            AddRefObj(_unVal.pRefCounted);
    }
    SQ_HOT SQObjectPtr(SQObjectPtr&& o) noexcept : SQObject(o) {
        o._type = OT_NULL;
        o._unVal.raw = 0;
    }
    // Typed constructors for heap objects.
    SQObjectPtr(SQObjectType t, CSqRefCounted* p) {
        _type = t;
        _unVal.raw = 0;
        _unVal.pRefCounted = p;
        AddRefObj(p);
    }
    explicit SQObjectPtr(CSqTable* p);
    explicit SQObjectPtr(CSqArray* p);
    explicit SQObjectPtr(CSqClosure* p);
    explicit SQObjectPtr(CSqNativeClosure* p);
    explicit SQObjectPtr(CSqString* p);
    explicit SQObjectPtr(CSqGenerator* p);
    explicit SQObjectPtr(CSqUserData* p);
    explicit SQObjectPtr(CSqFunctionProto* p);
    explicit SQObjectPtr(CSqVM* p);
    explicit SQObjectPtr(CSqClass* p);
    explicit SQObjectPtr(CSqInstance* p);
    explicit SQObjectPtr(CSqWeakRef* p);
    explicit SQObjectPtr(CSqOuter* p);

    static SQObjectPtr Integer(SQInteger i) {
        SQObjectPtr o;
        o._type = OT_INTEGER;
        o._unVal.nInteger = i;
        return o;
    }
    static SQObjectPtr Float(SQFloat f) {
        SQObjectPtr o;
        o._type = OT_FLOAT;
        o._unVal.fFloat = f;
        return o;
    }
    static SQObjectPtr Bool(bool b) {
        SQObjectPtr o;
        o._type = OT_BOOL;
        o._unVal.nInteger = b ? 1 : 0;
        return o;
    }
    static SQObjectPtr UserPointer(SQUserPointer p) {
        SQObjectPtr o;
        o._type = OT_USERPOINTER;
        o._unVal.pUserPointer = p;
        return o;
    }

    SQ_HOT ~SQObjectPtr() {
        if (IsRefCounted(_type))
            ReleaseObj(_unVal.pRefCounted);
    }

    SQ_HOT SQObjectPtr& operator=(const SQObjectPtr& o) { return Assign(o); }
    SQ_HOT SQObjectPtr& operator=(const SQObject& o) { return Assign(o); }
    SQ_HOT SQObjectPtr& operator=(SQObjectPtr&& o) noexcept {
        if (this != &o) {
            SQObjectType tOld = _type;
            SQObjectValue vOld = _unVal;
            _type = o._type;
            _unVal = o._unVal;
            o._type = OT_NULL;
            o._unVal.raw = 0;
            if (IsRefCounted(tOld))
                ReleaseObj(vOld.pRefCounted);
        }
        return *this;
    }
    SQ_HOT SQObjectPtr& Assign(const SQObject& o) {
        SQObjectType tOld = _type;
        SQObjectValue vOld = _unVal;
        _type = o._type;
        _unVal = o._unVal;
        if (IsRefCounted(_type))
            AddRefObj(_unVal.pRefCounted);
        if (IsRefCounted(tOld))
            ReleaseObj(vOld.pRefCounted);
        return *this;
    }
    SQ_HOT void Null() {
        SQObjectType tOld = _type;
        SQObjectValue vOld = _unVal;
        _type = OT_NULL;
        _unVal.raw = 0;
        if (IsRefCounted(tOld))
            ReleaseObj(vOld.pRefCounted);
    }
    SQ_HOT void SetInteger(SQInteger i) {
        if (IsRefCounted(_type)) {
            CSqRefCounted* old = _unVal.pRefCounted;
            _type = OT_INTEGER;
            _unVal.nInteger = i;
            ReleaseObj(old);
        } else {
            _type = OT_INTEGER;
            _unVal.nInteger = i;
        }
    }
    SQ_HOT void SetFloat(SQFloat f) {
        if (IsRefCounted(_type)) {
            CSqRefCounted* old = _unVal.pRefCounted;
            _type = OT_FLOAT;
            _unVal.raw = 0;
            _unVal.fFloat = f;
            ReleaseObj(old);
        } else {
            _type = OT_FLOAT;
            _unVal.raw = 0;
            _unVal.fFloat = f;
        }
    }
    SQ_HOT void SetBool(bool b) {
        if (IsRefCounted(_type)) {
            CSqRefCounted* old = _unVal.pRefCounted;
            _type = OT_BOOL;
            _unVal.nInteger = b ? 1 : 0;
            ReleaseObj(old);
        } else {
            _type = OT_BOOL;
            _unVal.nInteger = b ? 1 : 0;
        }
    }
};

// ---- accessors ----
inline SQInteger AsInt(const SQObject& o) { return o._unVal.nInteger; }
inline SQFloat AsFloat(const SQObject& o) { return o._unVal.fFloat; }
inline bool IsNumeric(const SQObject& o) { return (o._type & SQOBJECT_NUMERIC) != 0; }
inline bool IsNull(const SQObject& o) { return o._type == OT_NULL; }
inline SQFloat ToFloat(const SQObject& o) {
    return o._type == OT_INTEGER ? static_cast<SQFloat>(o._unVal.nInteger) : o._unVal.fFloat;
}
// Float to integer without undefined behaviour: NaN gives 0, out-of-range values saturate.
inline SQInteger FloatToInt(SQFloat f) {
    if (f != f)
        return 0;
    if (f >= 9.2233720368547758e18f)
        return INT64_MAX;
    if (f <= -9.2233720368547758e18f)
        return INT64_MIN;
    return static_cast<SQInteger>(f);
}
// Double to float without undefined behaviour: values beyond the float range become infinities.
inline SQFloat DoubleToFloat(double d) {
    if (d > 3.4028234663852886e38)
        return __builtin_inff();
    if (d < -3.4028234663852886e38)
        return -__builtin_inff();
    return static_cast<SQFloat>(d);
}
inline SQInteger ToInteger(const SQObject& o) {
    return o._type == OT_INTEGER ? o._unVal.nInteger : FloatToInt(o._unVal.fFloat);
}
inline bool IsFalse(const SQObject& o) {
    if (!(o._type & SQOBJECT_CANBEFALSE))
        return false;
    if (o._type == OT_FLOAT)
        return o._unVal.fFloat == 0.0f;
    return o._unVal.nInteger == 0; // null, integer and bool keep zero in the same place
}
inline bool RawEqual(const SQObject& a, const SQObject& b) {
    return a._type == b._type && a._unVal.raw == b._unVal.raw;
}

const char* TypeName(SQObjectType t);
const char* RawTypeName(SQUnsignedInteger32 rawtype);

class CSqString final : public CSqRefCounted {
public:
    // Interned: equal texts share one object, so string equality is pointer equality.
    static CSqString* Create(CSqSharedState* ss, const char* s, SQInteger len);
    void Free() override;
    const char* Str() const { return reinterpret_cast<const char*>(this + 1); }
    std::string_view View() const { return {Str(), static_cast<size_t>(_len)}; }

    SQInteger _len = 0;
    SQHash _hash = 0;
    CSqString* _next = nullptr;

private:
    friend class CSqStringTable;
    explicit CSqString(CSqSharedState* ss) : CSqRefCounted(ss) {}
    ~CSqString() override = default;
};
inline CSqString* AsString(const SQObject& o) { return o._unVal.pString; }
inline const char* StrOf(const SQObject& o) { return o._unVal.pString->Str(); }

class CSqWeakRef final : public CSqRefCounted {
public:
    explicit CSqWeakRef(CSqSharedState* ss) : CSqRefCounted(ss) { _obj._type = OT_NULL; _obj._unVal.raw = 0; }
    ~CSqWeakRef() override;
    SQObject _obj; // not counted; nulled when the target dies
};

class CSqCollectable : public CSqRefCounted {
public:
    explicit CSqCollectable(CSqSharedState* ss);
    ~CSqCollectable() override;
    // Marks every object this one refers to.
    virtual void Mark(CSqGC& gc) = 0;
    // Drops every reference this object holds, so that a garbage cycle falls apart.
    virtual void Finalize() = 0;
    virtual SQObjectType GcType() const = 0;

    CSqCollectable* _gcNext = nullptr;
    CSqCollectable* _gcPrev = nullptr;
};

// Marking walks an explicit stack so that deep structures cannot overflow the C++ stack.
class CSqGC {
public:
    explicit CSqGC(uint32_t mark) : _mark(mark) {}
    void MarkObject(const SQObject& o);
    void MarkCollectable(CSqCollectable* c) {
        if (c && c->_gcMark != _mark) {
            c->_gcMark = _mark;
            _pending.push_back(c);
        }
    }
    void Drain() {
        while (!_pending.empty()) {
            CSqCollectable* c = _pending.back();
            _pending.pop_back();
            c->Mark(*this);
        }
    }
    uint32_t _mark;

private:
    std::vector<CSqCollectable*> _pending;
};

inline SQHash MixHash(uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}
inline SQHash HashKey(const SQObject& k) {
    if (k._type == OT_STRING)
        return k._unVal.pString->_hash;
    return MixHash(k._unVal.raw ^ (static_cast<uint64_t>(k._type) << 40));
}

// ---------------------------------------------------------------- tables
class CSqTable final : public CSqCollectable {
public:
    struct Entry {
        SQObjectPtr key; // null marks a removed entry
        SQObjectPtr val;
        SQHash hash = 0;
    };

    static CSqTable* Create(CSqSharedState* ss, SQInteger ninitial);
    void Mark(CSqGC& gc) override;
    SQObjectType GcType() const override { return OT_TABLE; }
    void Finalize() override;

    SQ_HOT SQObjectPtr* Find(const SQObject& key) {
        int32_t* cell = FindCell(key);
        return cell ? &_entries[static_cast<size_t>(*cell)].val : nullptr;
    }
    bool Get(const SQObject& key, SQObjectPtr& val) {
        if (SQObjectPtr* p = Find(key)) {
            val = *p;
            return true;
        }
        return false;
    }
    bool Set(const SQObject& key, const SQObject& val) {
        if (SQObjectPtr* p = Find(key)) {
            *p = val;
            return true;
        }
        return false;
    }
    void NewSlot(const SQObject& key, const SQObject& val);
    bool Remove(const SQObject& key, SQObjectPtr* removed);
    // Iteration over live entries in insertion order. Returns the next position or -1 at the end.
    SQInteger Next(SQInteger pos, SQObjectPtr& key, SQObjectPtr& val) const;
    SQInteger Count() const { return _count; }
    void Clear();
    CSqTable* Clone();
    bool SetDelegate(CSqTable* d); // refuses a delegate chain that leads back to this table

    SQObjectPtr _delegate; // a table or null

private:
    explicit CSqTable(CSqSharedState* ss) : CSqCollectable(ss) {}
    void Rehash(size_t minEntries);
    static constexpr int32_t kEmpty = -1;
    static constexpr int32_t kRemoved = -2;
    // The index cell that leads to the live entry of `key`; null when there is none.
    SQ_HOT int32_t* FindCell(const SQObject& key) {
        if (_count == 0)
            return nullptr;
        SQHash h = HashKey(key);
        size_t i = h & _mask;
        for (;;) {
            int32_t e = _index[i];
            if (e == kEmpty)
                return nullptr;
            if (e >= 0) {
                Entry& en = _entries[static_cast<size_t>(e)];
                if (en.hash == h && RawEqual(en.key, key))
                    return &_index[i];
            }
            i = (i + 1) & _mask;
        }
    }
    std::vector<Entry> _entries;
    std::vector<int32_t> _index;
    size_t _mask = 0;
    SQInteger _count = 0;
};
inline CSqTable* AsTable(const SQObject& o) { return o._unVal.pTable; }

// ---------------------------------------------------------------- arrays
class CSqArray final : public CSqCollectable {
public:
    static CSqArray* Create(CSqSharedState* ss, SQInteger size);
    void Mark(CSqGC& gc) override;
    SQObjectType GcType() const override { return OT_ARRAY; }
    void Finalize() override { std::vector<SQObjectPtr>().swap(_values); }
    SQInteger Size() const { return static_cast<SQInteger>(_values.size()); }
    std::vector<SQObjectPtr> _values;

private:
    explicit CSqArray(CSqSharedState* ss) : CSqCollectable(ss) {}
};
inline CSqArray* AsArray(const SQObject& o) { return o._unVal.pArray; }

// ---------------------------------------------------------------- user data
class CSqUserData final : public CSqCollectable {
public:
    static CSqUserData* Create(CSqSharedState* ss, SQInteger size);
    ~CSqUserData() override;
    void Mark(CSqGC& gc) override;
    SQObjectType GcType() const override { return OT_USERDATA; }
    void Finalize() override { _delegate.Null(); }
    SQUserPointer Data() { return _data.get(); }

    SQObjectPtr _delegate;
    SQInteger _size = 0;
    SQRELEASEHOOK _hook = nullptr;
    SQUserPointer _typetag = nullptr;

private:
    explicit CSqUserData(CSqSharedState* ss) : CSqCollectable(ss) {}
    std::unique_ptr<std::max_align_t[]> _data;
};

} // namespace Squirrel
