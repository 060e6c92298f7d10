// Tables: construction, slots, deletion, iteration, default methods, delegates and their metamethods.
local t = { a = 1, b = "two", ["c"] = 3.5, "json key": true, function f() { return "f called"; } };
print("ctor: " + t.a + " " + t.b + " " + t.c + " " + t["json key"] + " " + t.f() + " len " + t.len() + "\n");
t.d <- 4;
t.a = 10;
try { t.nope = 1; } catch (e) { print("set missing: " + e + "\n"); }
try { print(t.nope); } catch (e) { print("get missing: " + e + "\n"); }
print("slots: " + t.a + " " + t.d + " " + ("d" in t) + " " + ("zz" in t) + "\n");
print("delete: " + delete t.d + " " + ("d" in t) + "\n");
try { delete t.d; } catch (e) { print("delete missing: " + e + "\n"); }

local keys = {};
keys[1] <- "int"; keys[1.0] <- "float"; keys[true] <- "bool"; keys["1"] <- "string";
print("keys: " + keys.len() + " " + keys[1] + " " + keys[1.0] + " " + keys[true] + " " + keys["1"] + "\n");
try { keys[null] <- 1; } catch (e) { print("null key: " + e + "\n"); }

local ordered = {};
foreach (name in ["z", "y", "x"]) ordered[name] <- name.toupper();
foreach (k, v in ordered) print(k + "=" + v + " ");
print("\n");

local nums = { one = 1, two = 2, three = 3, four = 4 };
local evens = nums.filter(@(k, v) v % 2 == 0);
print("filter: " + evens.len() + " " + ("two" in evens) + " " + ("one" in evens) + "\n");
print("keys: " + nums.keys().len() + " values sum: " + nums.values().reduce(@(a, b) a + b) + "\n");
print("raw: " + nums.rawget("one") + " " + nums.rawin("two") + " " + nums.rawin("five") + " " + nums.rawset("five", 5).five + " " + nums.rawdelete("five") + " " + nums.rawin("five") + "\n");
nums.clear();
print("clear: " + nums.len() + "\n");

local orig = { inner = [1, 2], v = 1 };
local copy = clone orig;
copy.v = 2;
copy.inner.append(3);
print("clone: " + orig.v + " " + copy.v + " " + orig.inner.len() + "\n");

local parent = { kind = "base", describe = function() { return "I am " + this.kind + "/" + this.name; } };
local child = { name = "child" };
child.setdelegate(parent);
print("delegate: " + child.describe() + " " + child.kind + " " + (child.getdelegate() == parent) + " " + ("kind" in child) + " " + child.rawin("kind") + "\n");

local meta = {
    _get = function(key) { if (key == "magic") return 42; throw null; },
    _set = function(key, value) { print("_set " + key + "=" + value + "\n"); },
    _newslot = function(key, value) { print("_newslot " + key + "\n"); rawset(key, value * 2); },
    _delslot = function(key) { print("_delslot " + key + "\n"); },
    _call = function(self, a, b) { return "called with " + a + "," + b; },
    _tostring = function() { return "<meta table>"; },
    _typeof = function() { return "MetaTable"; },
    _add = function(other) { return "added " + other; },
    _cmp = function(other) { return this.rawget("weight") - other.rawget("weight"); },
    _cloned = function(original) { rawset("clonedfrom", original.rawget("weight")); },
    _unm = function() { return "negated"; }
};
local m = { weight = 5 }.setdelegate(meta);
print("_get: " + m.magic + "\n");
try { print(m.other); } catch (e) { print("_get missing: " + e + "\n"); }
m.weight = 6;
m.unknown = 1;
m.fresh <- 4;
print("after newslot: " + m.rawget("fresh") + "\n");
delete m.ghost;
print("_call: " + m(1, 2) + "\n");
print("_tostring: " + m + " " + m.tostring() + "\n");
print("_typeof: " + typeof m + "\n");
print("_add: " + (m + 1) + "\n");
print("_unm: " + (-m) + "\n");
local heavier = { weight = 10 }.setdelegate(meta);
print("_cmp: " + (m < heavier) + " " + (m > heavier) + " " + (m <=> heavier) + "\n");
local cm = clone m;
print("_cloned: " + cm.rawget("clonedfrom") + "\n");

local ranged = {}.setdelegate({
    _nexti = function(prev) { local n = prev == null ? 0 : prev + 1; return n < 3 ? n : null; },
    _get = function(k) { return k * 10; }
});
foreach (k, v in ranged) print(k + ":" + v + " ");
print("\n");

local d1 = {}, d2 = {};
d1.setdelegate(d2);
try { d2.setdelegate(d1); } catch (e) { print("cycle: " + e + "\n"); }

local target = [1, 2, 3];
local holder = {};
holder.ref <- target.weakref();
print("weak slot: " + typeof holder.ref + " " + holder.ref.len() + " " + typeof holder.rawget("ref") + "\n");
