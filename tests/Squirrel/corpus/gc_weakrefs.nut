// Reference counting frees acyclic data at once; collectgarbage reclaims cycles and returns the count.
print("nothing to collect: " + collectgarbage() + "\n");

function makeTableCycle() { local t = {}; t.self <- t; }
function makeArrayCycle() { local a = []; a.append(a); }
function makeInstanceCycle() {
    local first = Node(), second = Node();
    first.next = second;
    second.next = first;
}
function makeClosureCycle() {
    local holder = {};
    holder.fn <- function() { return holder; };
}
class Node { next = null; }

makeTableCycle();
print("table cycle: " + collectgarbage() + "\n");
makeArrayCycle();
print("array cycle: " + collectgarbage() + "\n");
makeInstanceCycle();
print("instance cycle: " + collectgarbage() + "\n");
makeClosureCycle();
local freed = collectgarbage();
print("closure cycle freed something: " + (freed >= 2) + "\n");

// weak references
function weakToFresh() { local t = { v = 1 }; return t.weakref(); }
local w1 = weakToFresh();
print("acyclic target is freed at once: " + (w1.ref() == null) + "\n");
local keep = [1, 2, 3];
local w2 = keep.weakref();
print("live target: " + typeof w2 + " " + w2.ref().len() + "\n");
keep = null;
print("after dropping it: " + w2.ref() + "\n");
print("weakref of a number is the number: " + (5).weakref() + "\n");
function weakToCycle() { local t = {}; t.me <- t; return t.weakref(); }
local w3 = weakToCycle();
local alive = w3.ref() != null;
print("cycle target alive before collection: " + alive + "\n");
collectgarbage();
local dead = w3.ref() == null;
print("cycle target gone after collection: " + dead + "\n");

// resurrectunreachable hands the garbage back instead of freeing it
function orphanCycle() { local t = { tag = "orphan" }; t.me <- t; }
orphanCycle();
local back = resurrectunreachable();
print("resurrected " + back.len() + " " + back[0].tag + " " + (back[0].me == back[0]) + "\n");
back = null;
print("collected afterwards: " + collectgarbage() + "\n");
print("nothing unreachable: " + resurrectunreachable() + "\n");

// long chains are freed without deep recursion
function longChain() {
    local head = null;
    for (local i = 0; i < 200000; i++) head = { next = head };
    return "built";
}
print(longChain() + " and freed\n");
local nested = [];
for (local i = 0; i < 100000; i++) nested = [nested];
nested = null;
print("deep nesting freed\n");
