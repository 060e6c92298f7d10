#pragma once
// Classes and their instances. A class maps member names to either a field (one value per instance, the
// class keeping the default) or a method/static slot (one value held by the class).

#include "SqObject.h"

#include <memory>

namespace Squirrel {

enum eMetaMethod {
    MT_ADD,
    MT_SUB,
    MT_MUL,
    MT_DIV,
    MT_UNM,
    MT_MODULO,
    MT_SET,
    MT_GET,
    MT_TYPEOF,
    MT_NEXTI,
    MT_CMP,
    MT_CALL,
    MT_CLONED,
    MT_NEWSLOT,
    MT_DELSLOT,
    MT_TOSTRING,
    MT_NEWMEMBER,
    MT_INHERITED,
    MT_LAST
};

struct SQClassMember {
    SQObjectPtr val;
    SQObjectPtr attrs;
};

constexpr SQInteger MEMBER_FIELD = 1;
constexpr SQInteger MEMBER_METHOD = 2;
inline SQInteger MemberIndex(SQInteger m) { return m >> 2; }
inline bool MemberIsField(SQInteger m) { return (m & MEMBER_FIELD) != 0; }

class CSqClass final : public CSqCollectable {
public:
    static CSqClass* Create(CSqSharedState* ss, CSqClass* base);
    ~CSqClass() override;
    void Mark(CSqGC& gc) override;
    SQObjectType GcType() const override { return OT_CLASS; }
    void Finalize() override;

    // Adds or replaces a member. Closures and static values become class slots, everything else a field.
    // Refuses new members once the class has instances.
    bool NewSlot(const SQObjectPtr& key, const SQObjectPtr& val, bool bstatic);
    bool Get(const SQObject& key, SQObjectPtr& val);
    bool SetMember(const SQObject& key, const SQObject& val); // existing members only
    bool GetAttributes(const SQObject& key, SQObjectPtr& out);
    bool SetAttributes(const SQObject& key, const SQObjectPtr& val);
    bool IsDerivedFrom(const CSqClass* other) const;
    CSqClass* Base() const { return _base._type == OT_CLASS ? _base._unVal.pClass : nullptr; }
    CSqInstance* CreateInstance();
    bool GetMetaMethod(eMetaMethod mt, SQObjectPtr& out) const {
        if (_metamethods[mt]._type == OT_NULL)
            return false;
        out = _metamethods[mt];
        return true;
    }
    bool HasMetaMethod(eMetaMethod mt) const { return _metamethods[mt]._type != OT_NULL; }
    // The entry of member `key` in _members ((index << 2) | kind), or null.
    SQ_HOT SQObjectPtr* MemberRef(const SQObject& key) {
        return _members._type == OT_TABLE ? AsTable(_members)->Find(key) : nullptr;
    }
    // The class's record of member `key`: a field's default or a method/static slot; null when there is none.
    SQClassMember* FindMember(const SQObject& key);

    SQObjectPtr _base;
    SQObjectPtr _members; // table: name -> (index << 2) | kind
    std::vector<SQClassMember> _defaultvalues;
    std::vector<SQClassMember> _methods;
    SQObjectPtr _metamethods[MT_LAST];
    SQObjectPtr _attributes;
    SQObjectPtr _constructor;
    SQUserPointer _typetag = nullptr;
    SQRELEASEHOOK _hook = nullptr;
    SQInteger _udsize = 0;
    bool _locked = false;

private:
    explicit CSqClass(CSqSharedState* ss) : CSqCollectable(ss) {}
};
inline CSqClass* AsClass(const SQObject& o) { return o._unVal.pClass; }

class CSqInstance final : public CSqCollectable {
public:
    ~CSqInstance() override;
    void Mark(CSqGC& gc) override;
    SQObjectType GcType() const override { return OT_INSTANCE; }
    void Finalize() override;
    CSqClass* Class() const { return _class._unVal.pClass; }
    bool Get(const SQObject& key, SQObjectPtr& val);
    bool Set(const SQObject& key, const SQObject& val);
    // Where the value of member `key` lives: this instance's field or the class's method/static slot; null
    // when there is none. `field` tells which of the two it is.
    SQ_HOT SQObjectPtr* MemberSlot(const SQObject& key, bool& field) {
        CSqClass* cls = Class();
        SQObjectPtr* ref = cls->MemberRef(key);
        field = false;
        if (!ref)
            return nullptr;
        size_t idx = static_cast<size_t>(MemberIndex(AsInt(*ref)));
        field = MemberIsField(AsInt(*ref));
        if (field)
            return idx < _values.size() ? &_values[idx] : nullptr;
        return idx < cls->_methods.size() ? &cls->_methods[idx].val : nullptr;
    }
    // The slot of a field, for the bytecode loop's fast paths; null when `key` is not a field.
    SQ_HOT SQObjectPtr* FieldSlot(const SQObject& key) {
        bool field;
        SQObjectPtr* slot = MemberSlot(key, field);
        return field ? slot : nullptr;
    }
    bool InstanceOf(const CSqClass* c) const;
    CSqInstance* Clone();

    SQObjectPtr _class; // stays set after finalisation so the class pointer is always valid
    std::vector<SQObjectPtr> _values;
    SQUserPointer _userpointer = nullptr;
    SQRELEASEHOOK _hook = nullptr;
    std::unique_ptr<std::max_align_t[]> _udmem;
    SQInteger _udsize = 0;

private:
    friend class CSqClass;
    explicit CSqInstance(CSqSharedState* ss) : CSqCollectable(ss) {}
};
inline CSqInstance* AsInstance(const SQObject& o) { return o._unVal.pInstance; }

} // namespace Squirrel
