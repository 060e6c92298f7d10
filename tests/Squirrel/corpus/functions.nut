// Locals, functions, default and variable arguments, lambdas, outer locals and free variables.
local x = 1;
{
    local x = 2;
    print("inner x " + x + "\n");
}
print("outer x " + x + "\n");

function add(a, b = 10, c = 100) { return a + b + c; }
print("defaults: " + add(1) + " " + add(1, 2) + " " + add(1, 2, 3) + "\n");
try { add(); } catch (e) { print("too few: " + e + "\n"); }
try { add(1, 2, 3, 4); } catch (e) { print("too many: " + e + "\n"); }

function sum(first, ...) {
    local total = first;
    foreach (i, v in vargv) total += v;
    return total + " (" + vargv.len() + " extra)";
}
print("varargs: " + sum(1) + " / " + sum(1, 2, 3) + "\n");

local square = @(v) v * v;
print("lambda: " + square(7) + " " + [1, 2, 3].map(@(v) v * 2).reduce(@(a, b) a + b) + "\n");

function makeCounter(step) {
    local count = 0;
    return {
        inc = function() { count += step; return count; },
        get = @() count
    };
}
local c1 = makeCounter(1), c2 = makeCounter(5);
c1.inc(); c1.inc(); c2.inc();
print("counters: " + c1.get() + " " + c2.get() + "\n");

// every loop iteration has its own local
local closures = [];
for (local i = 0; i < 3; i++) {
    local captured = i;
    closures.append(@() captured);
}
foreach (f in closures) print(f() + " ");
print("\n");

// a closure sees later changes of the local it captured
local shared = "before";
local reader = @() shared;
shared = "after";
print("shared: " + reader() + "\n");

// explicit free variables are copied when the function is made
local fv = "copied";
local withFree = function() : (fv) { return fv; };
fv = "changed";
print("free variable: " + withFree() + "\n");

local function fact(n) { return n <= 1 ? 1 : n * fact(n - 1); }
print("local recursion: " + fact(10) + "\n");

function outer() {
    local a = 1;
    function mid() {
        local b = 2;
        return @() a + b;
    }
    return mid()();
}
print("nested outers: " + outer() + "\n");

// this, call, pcall, acall, bindenv
local obj = { name = "obj", hello = function(greeting) { return greeting + " " + this.name; } };
local other = { name = "other" };
print("call: " + obj.hello.call(other, "hi") + " acall: " + obj.hello.acall([other, "yo"]) + "\n");
local bound = obj.hello.bindenv(other);
print("bindenv: " + bound("hey") + " " + obj.hello("hey") + "\n");
try { (@() nosuchvariable).pcall(this); } catch (e) { print("pcall error: " + e + "\n"); }

local infos = add.getinfos();
print("infos: " + infos.name + " params " + infos.parameters.len() + " " + infos.parameters[1] + " defaults " + infos.defparams.len() + " varargs " + infos.varargs + "\n");
local ninfos = print.getinfos();
print("native infos: " + ninfos.native + " " + ninfos.name + "\n");

function whoami() { return callee(); }
print("callee: " + (whoami() == whoami) + "\n");

// tail calls do not grow the call stack
function countdown(n) { if (n == 0) return "landed"; return countdown(n - 1); }
print("tail call: " + countdown(100000) + "\n");

// functions are values with a root table of their own
local rootless = @() ::x;
try { rootless(); } catch (e) { print("before: " + e + "\n"); }
::x <- "global x";
print("root access: " + rootless() + " " + ::x + "\n");
