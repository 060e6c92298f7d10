// The base library entries.
print("type: " + type(1) + " " + type(1.5) + " " + type("s") + " " + type(null) + " " + type([]) + " " + type({}) + " " + type(print) + " " + type(true) + "\n");
class Typed { function _typeof() { return "custom"; } }
print("type ignores _typeof: " + type(Typed()) + " typeof uses it: " + typeof Typed() + "\n");
print("sizes: " + _versionnumber_ + " " + _version_ + " " + _charsize_ + " " + _intsize_ + " " + _floatsize_ + "\n");
assert(true);
assert(1, "not raised");
try { assert(0); } catch (e) { print("assert: " + e + "\n"); }
try { assert(null, "with message"); } catch (e) { print("assert: " + e + "\n"); }

local add = compilestring("return 1 + 2");
print("compilestring: " + add() + " " + typeof add + " " + compilestring("return vargv.len()")(1, 2) + "\n");
try { compilestring("this is not squirrel"); } catch (e) { print("compile error: " + e + "\n"); }

getroottable().madeThroughRoot <- "root slot";
print("getroottable: " + madeThroughRoot + "\n");
local original = setroottable({ print = print, marker = "alternative root" });
print("closures made under the new root see it: " + compilestring("return marker")() + "\n");
local alternative = setroottable(original);
print("setroottable returns the previous root: " + alternative.marker + " " + (getroottable() == original) + "\n");

function where(level) { return getstackinfos(level); }
function caller(a) {
    local b = a * 2;
    local r = where(2);
    return r;
}
local info = caller(21);
print("getstackinfos: " + info.func + " " + info.src + " line " + info.line + " a=" + info.locals.a + " b=" + info.locals.b + " has r " + ("r" in info.locals) + "\n");
print("beyond the stack: " + getstackinfos(50) + "\n");

function me() { return callee(); }
print("callee: " + (me() == me) + " dummy: " + dummy() + "\n");
enabledebuginfo(true);

local events = [];
setdebughook(function(type, source, line, funcname) {
    if (funcname == "traced")
        events.append(type.tochar() + line);
});
function traced() {
    local x = 1;
    return x;
}
traced();
setdebughook(null);
local joined = "";
foreach (e in events) joined += e + " ";
print("debug hook: " + joined + "\n");

seterrorhandler(function(err) { print("handler saw: " + err + "\n"); });
local failing = newthread(function() { throw "thread failure"; });
try { failing.call(); } catch (e) { print("main caught: " + e + "\n"); }
seterrorhandler(null);
local quiet = newthread(function() { throw "unreported"; });
try { quiet.call(); } catch (e) { print("without handler: " + e + "\n"); }

print("print converts: ");
print(12);
print(" ");
print(null);
print(" ");
print(true);
print("\n");
class Shown { function _tostring() { return "shown"; } }
print(Shown());
print("\n");
error("error() writes to the error stream\n");
local a = array(2, 0);
print("array: " + a.len() + " " + a[1] + "\n");
