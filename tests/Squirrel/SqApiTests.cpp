// The embedding interface as a host uses it: compiling through a reader, calling in both directions, native
// classes with user pointers and release hooks, threads with their own root tables, handles and errors.

#include "Squirrel/SqStdLib.h"
#include "Squirrel/Squirrel.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct CCapture {
    std::string out;
    std::string err;
    struct CompileError {
        std::string desc;
        std::string source;
        SQInteger line;
        SQInteger column;
    };
    std::vector<CompileError> compileErrors;
    std::vector<std::string> runtimeErrors;
    std::vector<std::string> stackFunctions;
};

CCapture* CaptureOf(HSQUIRRELVM v) { return static_cast<CCapture*>(sq_getsharedforeignptr(v)); }

void CapturePrint(HSQUIRRELVM v, const SQChar* fmt, ...) {
    char buf[4096];
    va_list args;
    va_start(args, fmt);
    vsnprintf(buf, sizeof(buf), fmt, args);
    va_end(args);
    CaptureOf(v)->out += buf;
}

void CaptureErrorPrint(HSQUIRRELVM v, const SQChar* fmt, ...) {
    char buf[4096];
    va_list args;
    va_start(args, fmt);
    vsnprintf(buf, sizeof(buf), fmt, args);
    va_end(args);
    CaptureOf(v)->err += buf;
}

void CaptureCompileError(HSQUIRRELVM v, const SQChar* desc, const SQChar* source, SQInteger line, SQInteger column) {
    CaptureOf(v)->compileErrors.push_back({desc, source, line, column});
}

// A runtime error handler as a host writes it: the message, then the function of every level.
SQInteger CaptureRuntimeError(HSQUIRRELVM v) {
    CCapture* c = CaptureOf(v);
    const SQChar* msg = nullptr;
    c->runtimeErrors.push_back(SQ_SUCCEEDED(sq_getstring(v, 2, &msg)) ? msg : "(not a string)");
    SQStackInfos si;
    for (SQInteger level = 1; SQ_SUCCEEDED(sq_stackinfos(v, level, &si)); ++level)
        c->stackFunctions.push_back(si.funcname ? si.funcname : "unknown_function");
    return 0;
}

struct CStringReader {
    std::u32string text;
    size_t pos = 0;
};

SQInteger ReadChar(SQUserPointer p) {
    auto* r = static_cast<CStringReader*>(p);
    if (r->pos >= r->text.size())
        return 0;
    return static_cast<SQInteger>(r->text[r->pos++]);
}

class SquirrelApi : public ::testing::Test {
protected:
    void SetUp() override {
        v = sq_open(1024);
        sq_setsharedforeignptr(v, &capture);
        sq_setprintfunc(v, CapturePrint, CaptureErrorPrint);
        sq_setcompilererrorhandler(v, CaptureCompileError);
        sq_newclosure(v, CaptureRuntimeError, 0);
        sq_seterrorhandler(v);
        sq_pushroottable(v);
        sqstd_register_bloblib(v);
        sqstd_register_iolib(v);
        sqstd_register_mathlib(v);
        sqstd_register_systemlib(v);
        sqstd_register_stringlib(v);
        sq_pop(v, 1);
    }
    void TearDown() override {
        if (v)
            sq_close(v);
    }

    // Compiles `src` on machine m and calls it with m's root table as `this`.
    bool Run(const std::string& src, HSQUIRRELVM m = nullptr) {
        if (!m)
            m = v;
        SQInteger top = sq_gettop(m);
        if (SQ_FAILED(sq_compilebuffer(m, src.data(), static_cast<SQInteger>(src.size()), "test.nut", SQTrue)))
            return false;
        sq_pushroottable(m);
        bool ok = SQ_SUCCEEDED(sq_call(m, 1, SQFalse, SQTrue));
        sq_settop(m, top);
        return ok;
    }
    std::string LastError(HSQUIRRELVM m = nullptr) {
        if (!m)
            m = v;
        sq_getlasterror(m);
        const SQChar* s = nullptr;
        std::string text = SQ_SUCCEEDED(sq_getstring(m, -1, &s)) ? s : "";
        sq_pop(m, 1);
        return text;
    }
    void RegisterGlobal(const char* name, SQFUNCTION f, SQInteger nparams = 0, const char* mask = nullptr) {
        sq_pushroottable(v);
        sq_pushstring(v, name, -1);
        sq_newclosure(v, f, 0);
        sq_setparamscheck(v, nparams, mask);
        sq_setnativeclosurename(v, -1, name);
        sq_newslot(v, -3, SQFalse);
        sq_pop(v, 1);
    }

    HSQUIRRELVM v = nullptr;
    CCapture capture;
};

TEST_F(SquirrelApi, CompileErrorsReachTheHandlerWithSourceLineAndColumn) {
    CStringReader reader{U"local a = 1\nlocal b = );\n"};
    EXPECT_TRUE(SQ_FAILED(sq_compile(v, ReadChar, &reader, "broken.nut", SQTrue)));
    ASSERT_EQ(capture.compileErrors.size(), 1u);
    EXPECT_EQ(capture.compileErrors[0].desc, "expression expected");
    EXPECT_EQ(capture.compileErrors[0].source, "broken.nut");
    EXPECT_EQ(capture.compileErrors[0].line, 2);
    EXPECT_EQ(capture.compileErrors[0].column, 11);
    EXPECT_EQ(LastError(), "expression expected");
    EXPECT_EQ(sq_gettop(v), 0);

    CStringReader quiet{U"local = 1"};
    EXPECT_TRUE(SQ_FAILED(sq_compile(v, ReadChar, &quiet, "quiet.nut", SQFalse)));
    EXPECT_EQ(capture.compileErrors.size(), 1u) << "raiseerror off: the handler stays silent";
}

TEST_F(SquirrelApi, ReaderCharactersAboveFFAreRefusedAndLatinOneCharactersArriveAsBytes) {
    CStringReader wide{U"local s = \"smile \u263A\";"};
    EXPECT_TRUE(SQ_FAILED(sq_compile(v, ReadChar, &wide, "wide.nut", SQTrue)));
    ASSERT_EQ(capture.compileErrors.size(), 1u);
    EXPECT_EQ(capture.compileErrors[0].desc, "Invalid character");
    EXPECT_EQ(capture.compileErrors[0].column, 18);

    CStringReader latin{U"return \"caf\u00E9\";"};
    ASSERT_TRUE(SQ_SUCCEEDED(sq_compile(v, ReadChar, &latin, "latin.nut", SQTrue)));
    sq_pushroottable(v);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 1, SQTrue, SQTrue)));
    const SQChar* s = nullptr;
    SQInteger len = 0;
    ASSERT_TRUE(SQ_SUCCEEDED(sq_getstringandsize(v, -1, &s, &len)));
    EXPECT_EQ(std::string(s, static_cast<size_t>(len)), "caf\xE9");
}

TEST_F(SquirrelApi, UncaughtRuntimeErrorsReachTheHandlerWithTheFailingLevelsOnTheStack) {
    EXPECT_FALSE(Run("function inner() { local t = {}; return t.nope; }\n"
                     "function outer() { local r = inner(); return r; }\n"
                     "outer();\n"));
    ASSERT_EQ(capture.runtimeErrors.size(), 1u);
    EXPECT_EQ(capture.runtimeErrors[0], "the index 'nope' does not exist");
    ASSERT_GE(capture.stackFunctions.size(), 3u);
    EXPECT_EQ(capture.stackFunctions[0], "inner");
    EXPECT_EQ(capture.stackFunctions[1], "outer");
    EXPECT_EQ(capture.stackFunctions[2], "main");
}

TEST_F(SquirrelApi, ErrorsCaughtByTheScriptDoNotReachTheHandler) {
    EXPECT_TRUE(Run("try { throw \"inside\"; } catch (e) { print(e); }"));
    EXPECT_TRUE(capture.runtimeErrors.empty());
    EXPECT_EQ(capture.out, "inside");
}

SQInteger CallBack(HSQUIRRELVM v) {
    // calls the script function given as parameter 2 with (root, 20, 22) and returns its result
    sq_push(v, 2);
    sq_pushroottable(v);
    sq_pushinteger(v, 20);
    sq_pushinteger(v, 22);
    if (SQ_FAILED(sq_call(v, 3, SQTrue, SQTrue)))
        return SQ_ERROR;
    return 1;
}

TEST_F(SquirrelApi, NativesCallScriptFunctionsAndScriptsCallNatives) {
    RegisterGlobal("callback", CallBack, 2, ".c");
    EXPECT_TRUE(Run("print(callback(@(a, b) a + b));"));
    EXPECT_EQ(capture.out, "42");

    ASSERT_TRUE(Run("function twice(x) { return x * 2; }"));
    sq_pushroottable(v);
    sq_pushstring(v, "twice", -1);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
    sq_pushroottable(v);
    sq_pushinteger(v, 21);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_call(v, 2, SQTrue, SQTrue)));
    SQInteger result = 0;
    ASSERT_TRUE(SQ_SUCCEEDED(sq_getinteger(v, -1, &result)));
    EXPECT_EQ(result, 42);
    EXPECT_EQ(sq_gettop(v), 3) << "root, the function and its result";
    sq_pop(v, 3);
}

TEST_F(SquirrelApi, AnErrorInACallbackPropagatesThroughTheNativeToTheScriptsTry) {
    RegisterGlobal("callback", CallBack, 2, ".c");
    EXPECT_TRUE(Run("try { callback(@(a, b) c); } catch (e) { print(\"caught \" + e); }"));
    EXPECT_EQ(capture.out, "caught the index 'c' does not exist");
}

SQInteger SumFreeVariables(HSQUIRRELVM v) {
    // free variables sit above the parameters, at the top of the stack
    SQInteger a = 0, b = 0, arg = 0;
    sq_getinteger(v, -2, &a);
    sq_getinteger(v, -1, &b);
    sq_getinteger(v, 2, &arg);
    sq_pushinteger(v, a + b + arg);
    return 1;
}

TEST_F(SquirrelApi, NativeClosuresCarryFreeVariablesAndCheckTheirParameters) {
    sq_pushroottable(v);
    sq_pushstring(v, "sum", -1);
    sq_pushinteger(v, 100);
    sq_pushinteger(v, 20);
    sq_newclosure(v, SumFreeVariables, 2);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_setparamscheck(v, 2, ".n")));
    sq_newslot(v, -3, SQFalse);
    sq_pop(v, 1);
    EXPECT_TRUE(Run("print(sum(3));"));
    EXPECT_EQ(capture.out, "123");
    EXPECT_FALSE(Run("sum(\"x\");"));
    EXPECT_EQ(capture.runtimeErrors.back(), "parameter 1 has an invalid type 'string' ; expected: 'integer|float'");
    EXPECT_FALSE(Run("sum(1, 2);"));
    EXPECT_EQ(capture.runtimeErrors.back(), "wrong number of parameters");

    sq_newclosure(v, SumFreeVariables, 0);
    EXPECT_TRUE(SQ_FAILED(sq_setparamscheck(v, 1, "nz")));
    sq_pop(v, 1);
}

struct CNativeThing {
    int value = 0;
    int* releases = nullptr;
};

const char kThingTag = 0;

SQInteger ThingRelease(SQUserPointer p, SQInteger) {
    auto* thing = static_cast<CNativeThing*>(p);
    ++*thing->releases;
    return 1;
}

SQInteger ThingGet(HSQUIRRELVM v) {
    SQUserPointer p = nullptr;
    if (SQ_FAILED(sq_getinstanceup(v, 1, &p, const_cast<char*>(&kThingTag))))
        return SQ_ERROR;
    sq_pushinteger(v, static_cast<CNativeThing*>(p)->value);
    return 1;
}

SQInteger RefuseInheritance(HSQUIRRELVM v) { return sq_throwerror(v, "this class cannot be inherited"); }

class SquirrelNativeClass : public SquirrelApi {
protected:
    void SetUp() override {
        SquirrelApi::SetUp();
        sq_pushroottable(v);
        sq_pushstring(v, "Thing", -1);
        sq_newclass(v, SQFalse);
        sq_settypetag(v, -1, const_cast<char*>(&kThingTag));
        sq_pushstring(v, "get", -1);
        sq_newclosure(v, ThingGet, 0);
        sq_setparamscheck(v, 1, "x");
        sq_newslot(v, -3, SQFalse);
        sq_pushstring(v, "_inherited", -1);
        sq_newclosure(v, RefuseInheritance, 0);
        sq_newslot(v, -3, SQFalse);
        sq_getstackobj(v, -1, &thingClass);
        sq_addref(v, &thingClass);
        sq_newslot(v, -3, SQFalse);
        sq_pop(v, 1);
    }
    void TearDown() override {
        if (v)
            sq_release(v, &thingClass);
        SquirrelApi::TearDown();
    }
    // Pushes an instance wrapping `thing`, as a binding wraps a native object.
    void PushThing(CNativeThing& thing) {
        sq_pushobject(v, thingClass);
        sq_createinstance(v, -1);
        sq_setinstanceup(v, -1, &thing);
        sq_setreleasehook(v, -1, ThingRelease);
        sq_remove(v, -2);
    }
    void SetGlobalThing(const char* name, CNativeThing& thing) {
        sq_pushroottable(v);
        sq_pushstring(v, name, -1);
        PushThing(thing);
        sq_newslot(v, -3, SQFalse);
        sq_pop(v, 1);
    }
    HSQOBJECT thingClass;
};

TEST_F(SquirrelNativeClass, InstancesLeadToTheirUserPointerAndTheHookRunsOnceWhenTheLastReferenceGoes) {
    int releases = 0;
    CNativeThing thing{7, &releases};
    SetGlobalThing("thing", thing);
    EXPECT_TRUE(Run("print(thing.get() + \" \" + typeof thing + \" \" + (thing instanceof Thing));"));
    EXPECT_EQ(capture.out, "7 instance true");
    EXPECT_EQ(releases, 0);
    EXPECT_TRUE(Run("local keep = thing; delete ::thing; keep = null;"));
    EXPECT_EQ(releases, 1);
    sq_collectgarbage(v);
    EXPECT_EQ(releases, 1);
}

TEST_F(SquirrelNativeClass, AnInstanceInsideACycleIsReleasedByTheCollectorExactlyOnce) {
    int releases = 0;
    CNativeThing thing{1, &releases};
    SetGlobalThing("thing", thing);
    EXPECT_TRUE(Run("local holder = { t = thing }; holder.self <- holder; delete ::thing;"));
    EXPECT_EQ(releases, 0) << "the cycle still holds the instance";
    EXPECT_GE(sq_collectgarbage(v), 1);
    EXPECT_EQ(releases, 1);
    EXPECT_EQ(sq_collectgarbage(v), 0);
    EXPECT_EQ(releases, 1);
}

TEST_F(SquirrelNativeClass, ClosingTheStateReleasesLiveInstancesOnce) {
    int releases = 0;
    CNativeThing a{1, &releases}, b{2, &releases};
    SetGlobalThing("a", a);
    SetGlobalThing("b", b);
    EXPECT_TRUE(Run("local cycle = { x = a }; cycle.me <- cycle; ::keep <- cycle;"));
    sq_release(v, &thingClass);
    sq_close(v);
    v = nullptr;
    EXPECT_EQ(releases, 2);
    sq_resetobject(&thingClass);
}

TEST_F(SquirrelNativeClass, TypeTagsAreCheckedThroughBaseClassesAndScriptsCannotDeriveFromTheClass) {
    EXPECT_FALSE(Run("class Sub extends Thing {}"));
    EXPECT_EQ(capture.runtimeErrors.back(), "this class cannot be inherited");

    // natively derived classes are made without asking the base
    sq_pushobject(v, thingClass);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_newclass(v, SQTrue)));
    sq_createinstance(v, -1);
    int releases = 0;
    CNativeThing thing{5, &releases};
    sq_setinstanceup(v, -1, &thing);
    SQUserPointer p = nullptr;
    EXPECT_TRUE(SQ_SUCCEEDED(sq_getinstanceup(v, -1, &p, const_cast<char*>(&kThingTag))));
    EXPECT_EQ(p, &thing);
    const char otherTag = 0;
    EXPECT_TRUE(SQ_FAILED(sq_getinstanceup(v, -1, &p, const_cast<char*>(&otherTag))));
    sq_pushinteger(v, 3);
    EXPECT_TRUE(SQ_FAILED(sq_getinstanceup(v, -1, &p, nullptr)));
    sq_settop(v, 0);
}

SQInteger NamespaceGet(HSQUIRRELVM v) {
    const SQChar* key = nullptr;
    sq_getstring(v, 2, &key);
    if (std::string(key) == "version") {
        sq_pushinteger(v, 3);
        return 1;
    }
    // an unknown property is a plain missing key
    sq_pushnull(v);
    return sq_throwobject(v);
}

TEST_F(SquirrelApi, ADelegateGetThatThrowsNullMakesTheLookupAPlainMissingKey) {
    sq_pushroottable(v);
    sq_newtable(v);
    sq_pushstring(v, "_get", -1);
    sq_newclosure(v, NamespaceGet, 0);
    sq_setparamscheck(v, 2, "..");
    sq_newslot(v, -3, SQFalse);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_setdelegate(v, -2)));
    sq_pop(v, 1);
    EXPECT_TRUE(Run("print(version);"));
    EXPECT_EQ(capture.out, "3");
    EXPECT_FALSE(Run("print(unknownThing);"));
    EXPECT_EQ(capture.runtimeErrors.back(), "the index 'unknownThing' does not exist");
    EXPECT_FALSE(Run("unknownThing = 1;"));
    EXPECT_EQ(capture.runtimeErrors.back(), "the index 'unknownThing' does not exist");
    EXPECT_TRUE(Run("newGlobal <- 5; print(newGlobal);"));
    EXPECT_EQ(capture.out, "35");
}

TEST_F(SquirrelApi, ThreadsWithTheirOwnRootTablesKeepTheirGlobalsApart) {
    auto makeEnvironment = [&](HSQOBJECT& handle) {
        HSQUIRRELVM t = sq_newthread(v, 1024);
        sq_getstackobj(v, -1, &handle);
        sq_addref(v, &handle);
        sq_pop(v, 1);
        // copy a few shared entries into a fresh root table, as an environment does
        sq_newtable(t);
        for (const char* name : {"print", "format"}) {
            sq_pushstring(t, name, -1);
            sq_pushroottable(t);
            sq_pushstring(t, name, -1);
            sq_get(t, -2);
            sq_remove(t, -2);
            sq_newslot(t, -3, SQFalse);
        }
        sq_setroottable(t);
        return t;
    };
    HSQOBJECT h1, h2;
    HSQUIRRELVM e1 = makeEnvironment(h1);
    HSQUIRRELVM e2 = makeEnvironment(h2);
    EXPECT_TRUE(Run("mine <- \"first\"; print(mine);", e1));
    EXPECT_FALSE(Run("print(mine);", e2));
    EXPECT_EQ(capture.runtimeErrors.back(), "the index 'mine' does not exist");
    EXPECT_FALSE(Run("print(blob);", e1)) << "entries that were not copied are out of reach";
    EXPECT_TRUE(Run("print(::mine);", e1));
    EXPECT_EQ(capture.out, "firstfirst");
    sq_release(v, &h1);
    sq_release(v, &h2);
    EXPECT_GE(sq_collectgarbage(v), 0);
}

TEST_F(SquirrelApi, AnEnvironmentsConstantTableIsInstalledWhileItCompiles) {
    sq_newtable(v);
    sq_pushstring(v, "LIMIT", -1);
    sq_pushinteger(v, 4000000000LL);
    sq_newslot(v, -3, SQFalse);
    HSQOBJECT envConsts;
    sq_getstackobj(v, -1, &envConsts);
    sq_addref(v, &envConsts);
    sq_pop(v, 1);

    sq_pushconsttable(v);
    HSQOBJECT saved;
    sq_getstackobj(v, -1, &saved);
    sq_addref(v, &saved);
    sq_pop(v, 1);
    sq_pushobject(v, envConsts);
    sq_setconsttable(v);
    EXPECT_TRUE(Run("print(LIMIT);"));
    sq_pushobject(v, saved);
    sq_setconsttable(v);
    EXPECT_FALSE(Run("print(LIMIT);"));
    EXPECT_EQ(capture.out, "4000000000");
    sq_release(v, &envConsts);
    sq_release(v, &saved);
}

TEST_F(SquirrelApi, HandlesKeepValuesAliveUntilTheirLastRelease) {
    ASSERT_TRUE(Run("::made <- { data = [1, 2, 3] };"));
    sq_pushroottable(v);
    sq_pushstring(v, "made", -1);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
    HSQOBJECT held;
    ASSERT_TRUE(SQ_SUCCEEDED(sq_getstackobj(v, -1, &held)));
    sq_addref(v, &held);
    sq_addref(v, &held);
    sq_settop(v, 0);
    ASSERT_TRUE(Run("delete ::made;"));
    EXPECT_EQ(sq_getrefcount(v, &held), 2u);
    EXPECT_FALSE(sq_release(v, &held));
    sq_collectgarbage(v);
    sq_pushobject(v, held);
    sq_pushstring(v, "data", -1);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
    EXPECT_EQ(sq_getsize(v, -1), 3);
    sq_settop(v, 0);
    EXPECT_TRUE(sq_release(v, &held));
    EXPECT_EQ(sq_getrefcount(v, &held), 0u);
}

TEST_F(SquirrelApi, StackIndicesOutsideTheWindowReadAsNullAndBadCallsFail) {
    EXPECT_EQ(sq_gettype(v, 5), OT_NULL);
    EXPECT_EQ(sq_gettype(v, -3), OT_NULL);
    HSQOBJECT o;
    EXPECT_TRUE(SQ_FAILED(sq_getstackobj(v, 1, &o)));
    EXPECT_TRUE(SQ_FAILED(sq_call(v, 3, SQFalse, SQFalse)));
    sq_pushinteger(v, 1);
    sq_pushnull(v);
    EXPECT_TRUE(SQ_FAILED(sq_call(v, 1, SQFalse, SQFalse)));
    EXPECT_EQ(LastError(), "attempt to call 'integer'");
    sq_pop(v, 10);
    EXPECT_EQ(sq_gettop(v), 0);
}

TEST_F(SquirrelApi, BlobsCrossTheInterfaceInBothDirections) {
    SQUserPointer mem = sqstd_createblob(v, 3);
    ASSERT_NE(mem, nullptr);
    static_cast<unsigned char*>(mem)[0] = 'a';
    static_cast<unsigned char*>(mem)[1] = 'b';
    static_cast<unsigned char*>(mem)[2] = 'c';
    sq_pushroottable(v);
    sq_pushstring(v, "fromHost", -1);
    sq_push(v, -3);
    sq_newslot(v, -3, SQFalse);
    sq_settop(v, 0);
    EXPECT_TRUE(Run("print(fromHost.len() + \" \" + fromHost[1] + \" \" + typeof fromHost); ::fromScript <- blob(2); fromScript[0] = 9;"));
    EXPECT_EQ(capture.out, "3 98 blob");
    sq_pushroottable(v);
    sq_pushstring(v, "fromScript", -1);
    sq_get(v, -2);
    SQUserPointer data = nullptr;
    ASSERT_TRUE(SQ_SUCCEEDED(sqstd_getblob(v, -1, &data)));
    EXPECT_EQ(sqstd_getblobsize(v, -1), 2);
    EXPECT_EQ(static_cast<unsigned char*>(data)[0], 9);
    sq_pushinteger(v, 1);
    EXPECT_TRUE(SQ_FAILED(sqstd_getblob(v, -1, &data)));
    sq_settop(v, 0);
    EXPECT_NE(sqstd_createblob(v, 0), nullptr) << "an empty blob still has an address";
    sq_settop(v, 0);
}

TEST_F(SquirrelApi, StdinReadsNothingWhileTheHostOwnsStandardInput) {
    EXPECT_TRUE(Run("print(stdin.eos()); try { stdin.readn('c'); } catch (e) { print(\" \" + e); }"
                    "try { stdin.readblob(1); } catch (e) { print(\" \" + e); }"));
    EXPECT_EQ(capture.out, "true io error no data left to read");
}

TEST_F(SquirrelApi, AThreadStartedByAScriptCanBeWokenByTheHost) {
    ASSERT_TRUE(Run("::worker <- newthread(function(x) { local got = suspend(x * 2); return got + 1; });"
                    "print(worker.call(5));"));
    sq_pushroottable(v);
    sq_pushstring(v, "worker", -1);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_get(v, -2)));
    HSQUIRRELVM t = nullptr;
    ASSERT_TRUE(SQ_SUCCEEDED(sq_getthread(v, -1, &t)));
    EXPECT_EQ(sq_getvmstate(t), SQ_VMSTATE_SUSPENDED);
    sq_pushinteger(t, 41);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_wakeupvm(t, SQTrue, SQTrue, SQTrue, SQFalse)));
    SQInteger result = 0;
    sq_getinteger(t, -1, &result);
    EXPECT_EQ(result, 42);
    EXPECT_EQ(sq_getvmstate(t), SQ_VMSTATE_IDLE);
    EXPECT_EQ(capture.out, "10");
    sq_settop(v, 0);
}

TEST_F(SquirrelApi, TablesIterateThroughNextInInsertionOrder) {
    sq_newtable(v);
    for (const char* k : {"b", "a", "c"}) {
        sq_pushstring(v, k, -1);
        sq_pushinteger(v, 1);
        sq_newslot(v, -3, SQFalse);
    }
    std::string order;
    sq_pushnull(v);
    while (SQ_SUCCEEDED(sq_next(v, -2))) {
        const SQChar* key = nullptr;
        sq_getstring(v, -2, &key);
        order += key;
        sq_pop(v, 2);
    }
    sq_pop(v, 2);
    EXPECT_EQ(order, "bac");
    EXPECT_EQ(sq_gettop(v), 0);
}

TEST_F(SquirrelApi, AnUnreachableThreadThatHoldsItselfIsCollected) {
    ASSERT_TRUE(Run("local t = newthread(function(me) { suspend(me); }); t.call(t);"));
    EXPECT_GE(sq_collectgarbage(v), 1);
    EXPECT_EQ(sq_collectgarbage(v), 0);
}

SQInteger CountRelease(SQUserPointer p, SQInteger size) {
    // the user data's own memory starts with the address of the counter
    int* counter = *static_cast<int**>(p);
    *counter += static_cast<int>(size);
    return 1;
}

TEST_F(SquirrelApi, UserDataAndUserPointersAreValuesWithTheirOwnTypes) {
    int released = 0;
    auto** slot = static_cast<int**>(sq_newuserdata(v, sizeof(int*)));
    *slot = &released;
    sq_setreleasehook(v, -1, CountRelease);
    sq_settypetag(v, -1, &released);
    sq_newtable(v);
    sq_pushstring(v, "kind", -1);
    sq_pushstring(v, "mine", -1);
    sq_newslot(v, -3, SQFalse);
    ASSERT_TRUE(SQ_SUCCEEDED(sq_setdelegate(v, -2)));
    SQUserPointer tag = nullptr;
    SQUserPointer data = nullptr;
    ASSERT_TRUE(SQ_SUCCEEDED(sq_getuserdata(v, -1, &data, &tag)));
    EXPECT_EQ(tag, &released);
    EXPECT_EQ(data, static_cast<SQUserPointer>(slot));
    sq_pushroottable(v);
    sq_pushstring(v, "ud", -1);
    sq_push(v, -3);
    sq_newslot(v, -3, SQFalse);
    sq_pushstring(v, "ptr", -1);
    sq_pushuserpointer(v, &released);
    sq_newslot(v, -3, SQFalse);
    sq_settop(v, 0);
    EXPECT_TRUE(Run("print(typeof ud + \" \" + ud.kind + \" \" + typeof ptr); delete ::ud;"));
    EXPECT_EQ(capture.out, "userdata mine userpointer");
    EXPECT_EQ(released, static_cast<int>(sizeof(int*)));
}

TEST_F(SquirrelApi, ScriptErrorsAreValuesOfAnyTypeForTheHost) {
    EXPECT_FALSE(Run("throw { code = 12 };"));
    EXPECT_EQ(capture.runtimeErrors.back(), "(not a string)");
    sq_getlasterror(v);
    EXPECT_EQ(sq_gettype(v, -1), OT_TABLE);
    sq_pop(v, 1);
}

} // namespace
