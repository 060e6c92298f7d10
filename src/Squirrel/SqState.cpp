#include "SqVM.h"

namespace Squirrel {

void RegisterBaseLibrary(CSqVM* v);
void CreateDefaultDelegates(CSqVM* v);

namespace {
const char* const kMetaMethodNames[MT_LAST] = {
    "_add",     "_sub",    "_mul",  "_div",    "_unm",    "_modulo", "_set",      "_get",       "_typeof",
    "_nexti",   "_cmp",    "_call", "_cloned", "_newslot", "_delslot", "_tostring", "_newmember", "_inherited",
};
// Finalises a set of objects; each is held while any of them finalises, so that none is freed while
// another still refers to it.
void FinalizeEach(const std::vector<CSqCollectable*>& objects) {
    for (CSqCollectable* c : objects)
        AddRefObj(c);
    for (CSqCollectable* c : objects)
        c->Finalize();
    for (CSqCollectable* c : objects)
        ReleaseObj(c);
}
} // namespace

CSqSharedState::CSqSharedState() = default;

CSqSharedState::~CSqSharedState() = default;

void CSqSharedState::Init(CSqVM* mainvm) {
    _mainvm = SQObjectPtr(mainvm);
    _registry = SQObjectPtr(CSqTable::Create(this, 0));
    _consts = SQObjectPtr(CSqTable::Create(this, 0));
    _metamethodsmap = SQObjectPtr(CSqTable::Create(this, MT_LAST));
    for (int i = 0; i < MT_LAST; ++i) {
        _metamethodnames[i] = Str(kMetaMethodNames[i]);
        AsTable(_metamethodsmap)->NewSlot(_metamethodnames[i], SQObjectPtr::Integer(i));
    }
    _constructorname = Str("constructor");
}

void CSqSharedState::MarkRoots(CSqGC& gc, CSqVM* current) {
    gc.MarkObject(_mainvm);
    gc.MarkObject(_registry);
    gc.MarkObject(_consts);
    gc.MarkObject(_metamethodsmap);
    for (const SQObjectPtr* d : {&_table_default_delegate, &_array_default_delegate, &_string_default_delegate,
                                 &_number_default_delegate, &_generator_default_delegate,
                                 &_closure_default_delegate, &_thread_default_delegate, &_class_default_delegate,
                                 &_instance_default_delegate, &_weakref_default_delegate})
        gc.MarkObject(*d);
    for (auto& [ptr, entry] : _refs)
        gc.MarkObject(entry.obj);
    if (current)
        gc.MarkCollectable(current);
    // machines that are running hold C++ frames: they and everything on their stacks stay alive
    for (CSqCollectable* c = _gcHead; c; c = c->_gcNext) {
        if (c->GcType() == OT_THREAD && static_cast<CSqVM*>(c)->_execDepth > 0)
            gc.MarkCollectable(c);
    }
}

std::vector<CSqCollectable*> CSqSharedState::FindGarbage(CSqVM* current) {
    for (CSqCollectable* c = _gcHead; c; c = c->_gcNext)
        if (c->GcType() == OT_THREAD)
            static_cast<CSqVM*>(c)->ClearDeadSlots();
    if (++_gcMark == 0)
        _gcMark = 1;
    CSqGC gc(_gcMark);
    MarkRoots(gc, current);
    gc.Drain();
    std::vector<CSqCollectable*> garbage;
    for (CSqCollectable* c = _gcHead; c; c = c->_gcNext)
        if (c->_gcMark != _gcMark && c->_uiRef > 0)
            garbage.push_back(c);
    return garbage;
}

SQInteger CSqSharedState::CollectGarbage(CSqVM* current) {
    if (_freeing || _closing)
        return 0;
    std::vector<CSqCollectable*> garbage = FindGarbage(current);
    FinalizeEach(garbage);
    return static_cast<SQInteger>(garbage.size());
}

SQObjectPtr CSqSharedState::ResurrectUnreachable(CSqVM* current) {
    if (_freeing || _closing)
        return SQObjectPtr();
    std::vector<CSqCollectable*> garbage = FindGarbage(current);
    if (garbage.empty())
        return SQObjectPtr();
    CSqArray* arr = CSqArray::Create(this, 0);
    SQObjectPtr result(arr);
    for (CSqCollectable* c : garbage) {
        SQObjectType t = c->GcType();
        if (t == OT_NULL || t == OT_OUTER)
            continue;
        arr->_values.push_back(SQObjectPtr(t, c));
    }
    return result;
}

const SQObjectPtr* CSqSharedState::DefaultDelegate(SQObjectType t) const {
    switch (t) {
    case OT_TABLE: return &_table_default_delegate;
    case OT_ARRAY: return &_array_default_delegate;
    case OT_STRING: return &_string_default_delegate;
    case OT_INTEGER:
    case OT_FLOAT:
    case OT_BOOL: return &_number_default_delegate;
    case OT_GENERATOR: return &_generator_default_delegate;
    case OT_CLOSURE:
    case OT_NATIVECLOSURE: return &_closure_default_delegate;
    case OT_THREAD: return &_thread_default_delegate;
    case OT_CLASS: return &_class_default_delegate;
    case OT_INSTANCE: return &_instance_default_delegate;
    case OT_WEAKREF: return &_weakref_default_delegate;
    default: return nullptr;
    }
}

void CSqSharedState::FinalizeAll() {
    _closing = true;
    // the main machine stays allocated until the very end: release hooks may still name it
    SQObjectPtr keepMain = _mainvm;
    _refs.clear();
    _registry.Null();
    _consts.Null();
    for (SQObjectPtr* d : {&_table_default_delegate, &_array_default_delegate, &_string_default_delegate,
                           &_number_default_delegate, &_generator_default_delegate, &_closure_default_delegate,
                           &_thread_default_delegate, &_class_default_delegate, &_instance_default_delegate,
                           &_weakref_default_delegate})
        d->Null();
    _mainvm.Null();
    // several rounds: a release hook may create objects while the state closes
    for (int round = 0; round < 8 && _gcHead; ++round) {
        std::vector<CSqCollectable*> all;
        for (CSqCollectable* c = _gcHead; c; c = c->_gcNext)
            if (c->_uiRef > 0)
                all.push_back(c);
        FinalizeEach(all);
    }
    keepMain.Null();
    _metamethodsmap.Null();
    for (auto& n : _metamethodnames)
        n.Null();
    _constructorname.Null();
}

void CSqSharedState::AddRef(const SQObject& o) {
    if (!IsRefCounted(o._type) || _closing)
        return;
    SQRefEntry& e = _refs[o._unVal.pRefCounted];
    if (e.count == 0)
        e.obj = o;
    ++e.count;
}

bool CSqSharedState::Release(const SQObject& o) {
    if (!IsRefCounted(o._type))
        return true;
    auto it = _refs.find(o._unVal.pRefCounted);
    if (it == _refs.end())
        return false;
    if (--it->second.count == 0) {
        SQObjectPtr obj = std::move(it->second.obj);
        _refs.erase(it);
        return true;
    }
    return false;
}

SQUnsignedInteger CSqSharedState::RefCountOf(const SQObject& o) const {
    if (!IsRefCounted(o._type))
        return 0;
    auto it = _refs.find(o._unVal.pRefCounted);
    return it == _refs.end() ? 0 : it->second.count;
}

} // namespace Squirrel
