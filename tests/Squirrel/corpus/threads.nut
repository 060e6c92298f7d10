// Threads: call, suspend/wakeup round trips with values both ways, status transitions and errors.
local worker = newthread(function(start) {
    print("  worker starts with " + start + ", status " + ::worker.getstatus() + "\n");
    local total = start;
    while (true) {
        local got = suspend(total);
        if (got == null) break;
        total += got;
    }
    return "total " + total;
});
::worker <- worker;
print("before call: " + worker.getstatus() + " typeof " + typeof worker + "\n");
print("call returned " + worker.call(10) + ", status " + worker.getstatus() + "\n");
print("wakeup(5) returned " + worker.wakeup(5) + "\n");
print("wakeup(7) returned " + worker.wakeup(7) + "\n");
print("wakeup() returned " + worker.wakeup() + ", status " + worker.getstatus() + "\n");
print("called again: " + worker.call(1) + "\n");
print("finished: " + worker.wakeup(null) + "\n");

foreach (bad in [@() worker.wakeup(1), @() suspend(1)]) {
    try { bad(); } catch (e) { print("error: " + e + "\n"); }
}
local busy = newthread(function() { return ::busyThread.call(); });
::busyThread <- busy;
try { busy.call(); } catch (e) { print("calling a running thread: " + e + "\n"); }

// the thread's locals and its stack survive between wakeups
local stack = newthread(function() {
    local frames = [];
    function deep(n) { if (n == 0) return suspend("deep"); return deep2(n); }
    function deep2(n) { local r = deep(n - 1); return r + n; }
    return deep(3);
});
print("deep suspend " + stack.call() + " -> " + stack.wakeup(100) + "\n");

local inspector = newthread(function() { suspend(); });
inspector.call();
local info = inspector.getstackinfos(0);
print("stack infos of a suspended thread: " + info.func + " line " + info.line + "\n");
inspector.wakeup();

local thrower = newthread(function() { try { suspend("waiting"); } catch (e) { return "handled " + e; } });
thrower.call();
print("wakeupthrow: " + thrower.wakeupthrow("injected") + "\n");

local generatorInThread = newthread(function() {
    local gen = (function() { yield "a"; yield "b"; })();
    local first = resume gen;
    local second = suspend(first);
    return second + (resume gen);
});
print("generator in thread: " + generatorInThread.call() + " " + generatorInThread.wakeup("X") + "\n");

local nested = newthread(function() { return [1].map(@(v) suspend(v)); });
try { nested.call(); } catch (e) { print("caught in main: " + e + "\n"); }
