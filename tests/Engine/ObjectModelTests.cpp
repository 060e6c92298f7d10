#include "Engine/Context.h"
#include "Engine/CorvaneReference.h"
#include "Engine/ObjectValue.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

using namespace Corvane3D;

namespace {

struct CountedProbe : CBaseObject {
    explicit CountedProbe(int* destroyed) : m_destroyed(destroyed) {}
    ~CountedProbe() override { ++*m_destroyed; }
    int* m_destroyed;
};

// Stands in for a script engine record: vetoes destruction while its wrapper is "alive".
struct VetoRecord : IUserData {
    explicit VetoRecord(bool* alive) : m_alive(alive) {}
    bool Destruct() override { return *m_alive; }
    bool* m_alive;
};

// Stands in for a module destructor record whose callback touches the dying object.
struct TouchingRecord : IUserData {
    TouchingRecord(CBaseObject* object, CBaseObject** lateSlot) : m_object(object), m_lateSlot(lateSlot) {}
    ~TouchingRecord() override
    {
        m_object->AddRef();
        m_object->Release();
        m_object->CreateReference(m_lateSlot);
    }
    CBaseObject* m_object;
    CBaseObject** m_lateSlot;
};

// Captures what the context writes to the console.
struct CapturedConsole {
    CapturedConsole() : file(std::tmpfile()) { context.SetConsole(file); GGlobal.m_pContext = &context; }
    ~CapturedConsole()
    {
        GGlobal.m_pContext = nullptr;
        std::fclose(file);
    }
    std::string Text()
    {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        char buffer[256];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
            text.append(buffer, n);
        return text;
    }
    FILE* file;
    Context context;
};

} // namespace

TEST(ObjectModel, CountStartsAtOneAndLastReleaseDestroys)
{
    int destroyed = 0;
    auto* object = new CountedProbe(&destroyed);
    EXPECT_EQ(object->GetRefCount(), 1);
    EXPECT_EQ(object->AddRef(), 2);
    EXPECT_EQ(object->Release(), 1);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(object->Release(), 0);
    EXPECT_EQ(destroyed, 1);
}

TEST(ObjectModel, WeakReferencesReadNullAfterDestructionAndDetachSafely)
{
    int destroyed = 0;
    auto strong = MakeStrong<CountedProbe>(&destroyed);
    auto first = std::make_unique<Weak<CountedProbe>>(strong.Get());
    Weak<CountedProbe> second(strong.Get());
    second = strong.Get(); // re-assigning the same object keeps one registration
    strong.Clear();
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(first->Get(), nullptr);
    EXPECT_EQ(second.Get(), nullptr);
    first.reset(); // must not touch the freed object (ASan would report it)
}

TEST(ObjectModel, StrongAssignedItsOwnPointerKeepsTheCount)
{
    int destroyed = 0;
    auto strong = MakeStrong<CountedProbe>(&destroyed);
    CountedProbe* raw = strong.Get();
    strong = raw;
    EXPECT_EQ(raw->GetRefCount(), 1);
    Strong<CountedProbe> copy = strong;
    EXPECT_EQ(raw->GetRefCount(), 2);
}

TEST(ObjectModel, ReassigningFromTheOnlyOwnerOfTheNewObjectIsSafe)
{
    // A strong reference owned by the old object points to the new one.
    struct Holder : CBaseObject {
        Strong<CBaseObject> next;
    };
    auto holder = MakeStrong<Holder>();
    int destroyed = 0;
    holder->next = MakeStrong<CountedProbe>(&destroyed);
    Strong<CBaseObject> cursor = holder.Get();
    holder.Clear();
    cursor = cursor.Get() ? static_cast<Holder*>(cursor.Get())->next.Get() : nullptr;
    EXPECT_EQ(destroyed, 0);
    cursor.Clear();
    EXPECT_EQ(destroyed, 1);
}

TEST(ObjectModel, LiveJavaScriptWrapperKeepsTheObjectUntilObliterated)
{
    int destroyed = 0;
    bool wrapperAlive = true;
    auto* object = new CountedProbe(&destroyed);
    object->SetJSUserData(std::make_unique<VetoRecord>(&wrapperAlive));
    EXPECT_EQ(object->Release(), 0);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(object->GetRefCount(), 0);
    object->Obliterate();
    EXPECT_EQ(destroyed, 1);
}

TEST(ObjectModel, DestructorCallbackThatTouchesTheObjectDoesNotDestroyItTwice)
{
    int destroyed = 0;
    CBaseObject* lateSlot = nullptr;
    auto* object = new CountedProbe(&destroyed);
    lateSlot = object;
    object->SetModuleDestructor(std::make_unique<TouchingRecord>(object, &lateSlot));
    object->Release();
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(lateSlot, nullptr);
}

TEST(ObjectModel, NullDereferenceLogsTheAssertionAndContinues)
{
    CapturedConsole console;
    Strong<CountedProbe> empty;
    EXPECT_EQ(empty.operator->(), nullptr);
    const std::string text = console.Text();
    EXPECT_NE(text.find("Assertion failed!"), std::string::npos);
    EXPECT_NE(text.find("Expression: m_pRef"), std::string::npos);
}

TEST(ObjectModel, ConcurrentStrongCopiesLoseNoCounts)
{
    int destroyed = 0;
    auto shared = MakeStrong<CountedProbe>(&destroyed);
    Weak<CountedProbe> observer(shared.Get());
    auto churn = [&] {
        for (int i = 0; i < 200000; ++i) {
            Strong<CountedProbe> copy = shared;
            Strong<CountedProbe> another(copy);
            another = nullptr;
        }
    };
    std::thread a(churn), b(churn);
    a.join();
    b.join();
    EXPECT_EQ(shared->GetRefCount(), 1);
    EXPECT_EQ(destroyed, 0);
    shared.Clear();
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(observer.Get(), nullptr);
}

TEST(ObjectModel, SlotPoolObjectsReturnTheirSlot)
{
    CSlotPool pool(sizeof(CountedProbe), 4);
    int destroyed = 0;
    void* storage = pool.Allocate(sizeof(CountedProbe));
    ASSERT_NE(storage, nullptr);
    auto* object = new (storage) CountedProbe(&destroyed);
    object->SetSlotPool(&pool);
    EXPECT_EQ(pool.GetUsedSlots(), 1u);
    object->Release();
    EXPECT_EQ(destroyed, 1);
    EXPECT_EQ(pool.GetUsedSlots(), 0u);
    EXPECT_EQ(pool.Allocate(sizeof(CountedProbe)), storage);
}
