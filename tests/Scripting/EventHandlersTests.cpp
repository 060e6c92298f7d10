#include "Scripting/ScriptingTestSupport.h"

#include "Scripting/EventHandlers.h"

#include <memory>
#include <string>
#include <vector>

using namespace ScriptingTest;
using namespace Corvane3D::EventHandlers;

namespace {

struct EventFixture : ScriptingFixture {
    CEventHandlers events{&scripting};
    std::vector<std::string> order;

    // A handler function that notes its tag in `order` and then runs `then`.
    Strong<CRecordingFunction> Noting(std::string tag, std::function<void()> then = nullptr)
    {
        return MakeStrong<CRecordingFunction>([this, tag, then](const CArgumentArray&, CReturnValue*) {
            if (then)
                then();
            // Reads the function's own captured state after `then`: if `then` freed the running
            // function, the sanitizer reports it here.
            order.push_back(tag);
            return true;
        });
    }

    bool AddHandler(const char* name, CFunction* function, CResource* resource = nullptr)
    {
        return Boolean(Call("addEventHandler", Args(name, function), resource));
    }

    CEventType* Declare(const char* name, int32_t argumentCount = -1, int32_t sourceIndex = CEventType::NoSource)
    {
        CEventType* type = events.CreateEventType(name, "a test event", argumentCount, true);
        if (type)
            type->SetSourceIndex(sourceIndex);
        return type;
    }
};

} // namespace

TEST_F(EventFixture, NamesDifferingOnlyInCaseAreOneEventType)
{
    EXPECT_TRUE(Boolean(Call("addEvent", Args("MyEvent"))));
    auto handler = MakeStrong<CRecordingFunction>();
    EXPECT_TRUE(AddHandler("myevent", handler));
    EXPECT_EQ(events.GetEventType("MYEVENT"), events.GetEventType("MyEvent"));
    EXPECT_STREQ(events.GetEventType("myEVENT")->GetName(), "MyEvent");
    EXPECT_EQ(events.CreateEventType("myEvent", nullptr, 0, false), nullptr);
    EXPECT_EQ(events.GetEventTypeCount(), 1u);

    // Declaring again keeps the first declaration's count and still answers true.
    EXPECT_TRUE(Boolean(Call("addEvent", Args("MYEVENT", 4))));
    EXPECT_EQ(events.GetEventType("MyEvent")->GetArgumentCount(), -1);
}

TEST_F(EventFixture, TriggerEventPassesTheEventAndClonedArgumentsAndReportsPrevention)
{
    Call("addEvent", Args("MyEvent", 2));
    bool prevent = false;
    ReflectedFunction* preventDefault = events.GetCancellableEventClass()->GetFunction("preventDefault");
    auto handler = MakeStrong<CRecordingFunction>([&](const CArgumentArray& arguments, CReturnValue*) {
        if (prevent)
            CNativeCallHelper(&scripting).Call(preventDefault, CArgumentArray(), arguments.GetAt(0)->ToObject());
        return true;
    });
    AddHandler("myevent", handler);

    tNativeCallResult result = Call("triggerEvent", Args("MyEvent", nullptr, 1, 2));
    ASSERT_TRUE(result.m_bResult) << result.m_error;
    EXPECT_FALSE(Boolean(result));
    ASSERT_EQ(handler->CallCount(), 1u);
    ASSERT_EQ(handler->ArgumentCountOf(0), 3u);
    CBaseObject* event = handler->ArgumentOf(0, 0)->ToObject();
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(event->GetReflectedClass(), events.GetCancellableEventClass());
    EXPECT_EQ(IntegerOf(handler->ArgumentOf(0, 1)), 1);
    EXPECT_EQ(IntegerOf(handler->ArgumentOf(0, 2)), 2);

    CNativeCallHelper helper(&scripting);
    ReflectedProperty* name = events.GetCancellableEventClass()->GetProperty("name");
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(StringOf(helper.Get(name, event).m_value), "MyEvent");
    EXPECT_EQ(StringOf(helper.Get(events.GetEventClass()->GetProperty("description"), event).m_value), "");

    prevent = true;
    result = Call("triggerEvent", Args("myEvent", nullptr, 1, 2));
    EXPECT_TRUE(Boolean(result));
    CBaseObject* secondEvent = handler->ArgumentOf(1, 0)->ToObject();
    ReflectedFunction* isPrevented = events.GetCancellableEventClass()->GetFunction("isDefaultPrevented");
    EXPECT_TRUE(helper.Call(isPrevented, CArgumentArray(), secondEvent).m_value->ToBoolean());
}

TEST_F(EventFixture, NativesRefuseUnknownNamesAndWrongArgumentsWithTheExactTexts)
{
    Declare("Plain");
    Declare("OnThing", 1, 0);
    auto function = MakeStrong<CRecordingFunction>();
    auto object = MakeStrong<CBaseObject>();
    struct Case {
        const char* native;
        Strong<CArgumentArray> arguments;
        const char* error;
    };
    const Case cases[] = {
        {"bindEventHandler", Args("Nope", object, function), "Event 'Nope' doesn't exist"},
        {"bindEventHandler", Args("Plain", object, function), "Event 'Plain' is not bindable"},
        {"bindEventHandler", Args("OnThing", nullptr, function), "Expected Instance for argument 2"},
        {"bindEventHandler", Args("OnThing", object, 3), "Expected Function for argument 3"},
        {"triggerEvent", Args("Nope"), "Event 'Nope' doesn't exist"},
        {"triggerEvent", Args("Plain", 5), "Expected Instance for argument 2"},
        {"triggerEvent", Args(), "Expected string for argument 1"},
        {"addEventHandler", Args("Plain", "notAFunction"), "Expected Function for argument 2"},
        {"addEvent", Args("Named", "two"), "Expected integer for argument 2"},
        {"unbindEventHandler", Args("OnThing", 1), "Expected Instance for argument 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.native) + ": " + c.error);
        tNativeCallResult result = Call(c.native, c.arguments);
        EXPECT_FALSE(result.m_bResult);
        EXPECT_EQ(result.m_error, c.error);
    }
    EXPECT_EQ(events.GetEventType("Plain")->GetHandlerCount(), 0u);
    EXPECT_EQ(events.GetEventType("OnThing")->GetHandlerCount(), 0u);

    // Unknown names in the add and remove natives are answers, not errors.
    tNativeCallResult added = Call("addEventHandler", Args("Nope", function));
    EXPECT_TRUE(added.m_bResult);
    EXPECT_FALSE(Boolean(added));
    EXPECT_TRUE(log.Contains(LOG_WARN, "AddEventHandler: Event 'Nope' doesn't exist"));
    tNativeCallResult removed = Call("removeEventHandler", Args("Nope"));
    EXPECT_TRUE(removed.m_bResult);
    EXPECT_FALSE(Boolean(removed));
    EXPECT_FALSE(Boolean(Call("unbindEventHandler", Args("Nope", object))));
}

TEST_F(EventFixture, HandlersRunInSubscriptionOrderAndAFunctionAddedTwiceRunsTwice)
{
    CEventType* type = Declare("Ordered");
    auto twice = Noting("twice");
    AddHandler("Ordered", Noting("first"));
    AddHandler("Ordered", twice);
    AddHandler("Ordered", Noting("third"));
    AddHandler("Ordered", twice);
    EXPECT_TRUE(type->Trigger(CArgumentArray()));
    EXPECT_EQ(order, (std::vector<std::string>{"first", "twice", "third", "twice"}));

    CEventType* empty = Declare("Empty");
    EXPECT_FALSE(empty->Trigger(CArgumentArray()));
}

TEST_F(EventFixture, AHandlerThatRemovesItselfOrAnotherFinishesAndTheRemovedOnesDoNotRun)
{
    CEventType* type = Declare("Walked");
    // Each handler's function is held only by its handler, so a premature free would show.
    AddHandler("Walked", Noting("self", [&] { Call("removeEventHandler", Args("Walked"), Resource(0)); }),
               Resource(0));
    AddHandler("Walked", Noting("remover", [&] { events.RemoveHandlers(Resource(2)); }), Resource(1));
    AddHandler("Walked", Noting("removed"), Resource(2));
    AddHandler("Walked", Noting("last"), Resource(3));

    type->Trigger(CArgumentArray());
    EXPECT_EQ(order, (std::vector<std::string>{"self", "remover", "last"}));
    EXPECT_EQ(type->GetHandlerCount(), 2u);
    EXPECT_FALSE(events.IsIterating());

    order.clear();
    type->Trigger(CArgumentArray());
    EXPECT_EQ(order, (std::vector<std::string>{"remover", "last"}));
}

TEST_F(EventFixture, HandlersAddedDuringATriggerWaitForTheNextOne)
{
    CEventType* type = Declare("Growing");
    bool added = false;
    AddHandler("Growing", Noting("adder", [&] {
                   if (!added)
                       added = AddHandler("Growing", Noting("late"));
               }));
    type->Trigger(CArgumentArray());
    EXPECT_EQ(order, (std::vector<std::string>{"adder"}));
    order.clear();
    type->Trigger(CArgumentArray());
    EXPECT_EQ(order, (std::vector<std::string>{"adder", "late"}));
}

TEST_F(EventFixture, NestedTriggersSeeHandlersAddedBeforeThemAndRemovalsWaitForTheOutermostWalk)
{
    CEventType* outer = Declare("Outer");
    CEventType* inner = Declare("Inner");
    int depth = 0;
    AddHandler("Outer", Noting("outer-first", [&] {
                   if (depth++ > 0)
                       return;
                   AddHandler("Outer", Noting("added-before-nested"));
                   // Nested trigger of the same type: it reaches the handler just added.
                   outer->Trigger(CArgumentArray());
                   inner->Trigger(CArgumentArray());
               }));
    AddHandler("Outer", Noting("outer-second"), Resource(1));
    AddHandler("Inner", Noting("inner", [&] { events.RemoveHandlers(Resource(1)); }));

    outer->Trigger(CArgumentArray());
    EXPECT_EQ(order, (std::vector<std::string>{"outer-first", "outer-second", "added-before-nested", "inner",
                                               "outer-first"}));
    EXPECT_EQ(outer->GetHandlerCount(), 2u);
    EXPECT_EQ(events.GetIterationDepth(), 0);
}

TEST_F(EventFixture, HandlersOfAStoppedResourceAreNoLongerCalledEvenWhenItStopsMidTrigger)
{
    CEventType* type = Declare("Stopping");
    AddHandler("Stopping", Noting("a1", [&] { events.RemoveHandlers(Resource(0)); }), Resource(0));
    AddHandler("Stopping", Noting("b"), Resource(1));
    AddHandler("Stopping", Noting("a2"), Resource(0));
    type->Trigger(CArgumentArray());
    EXPECT_EQ(order, (std::vector<std::string>{"a1", "b"}));

    order.clear();
    type->Trigger(CArgumentArray());
    EXPECT_EQ(order, (std::vector<std::string>{"b"}));
    EXPECT_EQ(events.RemoveHandlers(Resource(1)), 1u);
    EXPECT_EQ(type->GetHandlerCount(), 0u);
}

TEST_F(EventFixture, RemoveEventHandlerTakesOnlyTheCallersHandlersOrAllWithoutAResource)
{
    CEventType* type = Declare("Shared");
    AddHandler("Shared", Noting("r0"), Resource(0));
    AddHandler("Shared", Noting("r1"), Resource(1));
    AddHandler("Shared", Noting("r1-again"), Resource(1));
    EXPECT_TRUE(Boolean(Call("removeEventHandler", Args("shared"), Resource(1))));
    EXPECT_FALSE(Boolean(Call("removeEventHandler", Args("shared"), Resource(1))));
    type->Trigger(CArgumentArray());
    EXPECT_EQ(order, (std::vector<std::string>{"r0"}));
    EXPECT_TRUE(Boolean(Call("removeEventHandler", Args("shared"))));
    EXPECT_EQ(type->GetHandlerCount(), 0u);
}

TEST_F(EventFixture, BoundHandlersRunOnlyForTheirSourceAndNeverOnceItHasDied)
{
    CEventType* destroy = Declare("OnElementDestroy", 1, 0);
    auto elementA = MakeStrong<CBaseObject>();
    auto elementB = MakeStrong<CBaseObject>();
    auto boundToA = Noting("bound-a");
    EXPECT_TRUE(Boolean(Call("bindEventHandler", Args("onElementDestroy", elementA, boundToA), Resource(0))));
    auto unbound = Noting("unbound");
    AddHandler("OnElementDestroy", unbound);

    destroy->Trigger(*Args(elementB));
    EXPECT_EQ(order, (std::vector<std::string>{"unbound"}));
    order.clear();
    destroy->Trigger(*Args(elementA));
    EXPECT_EQ(order, (std::vector<std::string>{"bound-a", "unbound"}));
    order.clear();
    // An occurrence without a source reaches unbound handlers only.
    destroy->Trigger(*Args(nullptr));
    EXPECT_EQ(order, (std::vector<std::string>{"unbound"}));

    // The source dies without the clean-up: the handler must not start running for everything.
    order.clear();
    boundToA->calls.clear();
    unbound->calls.clear();
    Weak<CBaseObject> watch(elementA.Get());
    elementA = nullptr;
    ASSERT_EQ(watch.Get(), nullptr);
    destroy->Trigger(*Args(elementB));
    EXPECT_EQ(order, (std::vector<std::string>{"unbound"}));
    EXPECT_EQ(destroy->GetHandlerCount(), 1u);
}

TEST_F(EventFixture, UnbindingAndSourceCleanUpRemoveOnlyTheMatchingBoundHandlers)
{
    CEventType* type = Declare("OnResourceStop", 2, 0);
    auto resourceObject = MakeStrong<CBaseObject>();
    auto otherObject = MakeStrong<CBaseObject>();
    Call("bindEventHandler", Args("OnResourceStop", resourceObject, Noting("r0")), Resource(0));
    Call("bindEventHandler", Args("OnResourceStop", resourceObject, Noting("r1")), Resource(1));
    Call("bindEventHandler", Args("OnResourceStop", otherObject, Noting("other")), Resource(1));

    EXPECT_FALSE(Boolean(Call("unbindEventHandler", Args("OnResourceStop", resourceObject), Resource(2))));
    EXPECT_TRUE(Boolean(Call("unbindEventHandler", Args("OnResourceStop", resourceObject), Resource(1))));
    EXPECT_EQ(type->GetHandlerCount(), 2u);
    EXPECT_EQ(events.RemoveHandlersWithSource(nullptr, nullptr), 0u);
    EXPECT_EQ(events.RemoveHandlersWithSource(resourceObject, nullptr), 1u);
    type->Trigger(*Args(otherObject, false));
    EXPECT_EQ(order, (std::vector<std::string>{"other"}));
}

TEST_F(EventFixture, TriggersWithTooFewArgumentsOrAnUnexpectedCancellationOnlyWarn)
{
    CEventType* stop = Declare("OnResourceStop", 2, 0);
    AddHandler("OnResourceStop", Noting("stop"));
    stop->Trigger(*Args(nullptr));
    EXPECT_TRUE(log.Contains(
        LOG_WARN, "TriggerWithEvent: Event 'OnResourceStop' triggered with 1 arguments but requires 2 arguments"));

    CEventType* plain = events.CreateEventType("OnProcess", "", 1, false);
    AddHandler("OnProcess", Noting("process"));
    bool prevented = true;
    EXPECT_TRUE(plain->Trigger(*Args(0.016), prevented));
    EXPECT_FALSE(prevented);
    EXPECT_TRUE(log.Contains(LOG_WARN, "Trigger: Event 'OnProcess' used with 'preventDefault' but not registered "
                                       "that way"));
    EXPECT_EQ(order, (std::vector<std::string>{"stop", "process"}));
}

TEST_F(EventFixture, ASourceArgumentThatIsNoObjectIsReportedAndGivesNoSource)
{
    CEventType* type = Declare("OnElementStreamIn", 2, 0);
    auto element = MakeStrong<CBaseObject>();
    Call("bindEventHandler", Args("OnElementStreamIn", element, Noting("bound")));
    AddHandler("OnElementStreamIn", Noting("unbound"));
    type->Trigger(*Args("not an element", 1));
    EXPECT_TRUE(log.Contains(LOG_ERROR, "pSourceArgument->IsObject()"));
    EXPECT_EQ(order, (std::vector<std::string>{"unbound"}));
}

TEST_F(EventFixture, HandlersThatKeepTheEventObjectCanStillReadItAfterTheTrigger)
{
    CEventType* type = Declare("Kept");
    auto keeper = MakeStrong<CRecordingFunction>();
    AddHandler("Kept", keeper);
    type->Trigger(CArgumentArray());
    Strong<CBaseObject> event(keeper->ArgumentOf(0, 0)->ToObject());
    keeper->calls.clear();
    ASSERT_EQ(event->GetRefCount(), 1);
    EXPECT_EQ(StringOf(CNativeCallHelper(&scripting).Get(events.GetEventClass()->GetProperty("name"), event).m_value),
              "Kept");
}

TEST(ServerEventTypes, AreDeclaredOnceWithTheirArgumentsCancellationAndSources)
{
    CScripting scripting;
    CEventHandlers events(&scripting);
    EXPECT_TRUE(events.CreateServerEventTypes());
    EXPECT_FALSE(events.CreateServerEventTypes());
    EXPECT_EQ(events.GetEventTypeCount(), 26u);

    struct Case {
        const char* name;
        const char* description;
        int32_t arguments;
        bool cancellable;
        int32_t source;
    };
    const Case cases[] = {
        {"OnResourceStop", "Called when a resource stops", 2, true, 0},
        {"onplayerchat", "Called when a player chats", 2, true, -1},
        {"OnServerStart", "Called when the server finished the start sequence", 0, false, -1},
        {"OnElementSetData", "Called when an element data is set", 3, false, 0},
        {"OnPedEnterVehicle", "Called when a ped is entering a vehicle.", 3, true, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CEventType* type = events.GetEventType(c.name);
        ASSERT_NE(type, nullptr);
        EXPECT_STREQ(type->GetDescription(), c.description);
        EXPECT_EQ(type->GetArgumentCount(), c.arguments);
        EXPECT_EQ(type->IsCancellable(), c.cancellable);
        EXPECT_EQ(type->GetSourceIndex(), c.source);
    }
}
