// Arrays and their default methods.
function show(label, arr) {
    local s = label + ":";
    foreach (v in arr) s += " " + v;
    print(s + "\n");
}
local a = [1, 2, 3];
a.append(4);
a.push(5);
show("append/push", a);
print("len " + a.len() + " top " + a.top() + " pop " + a.pop() + " len " + a.len() + "\n");
a.insert(0, 0);
a.insert(a.len(), 9);
show("insert", a);
print("remove " + a.remove(1) + "\n");
show("after remove", a);
a.extend(["x", "y"]);
show("extend", a);
a.resize(3);
show("resize down", a);
a.resize(5, "fill");
show("resize up", a);
a.reverse();
show("reverse", a);
show("slice", a.slice(1, 3));
show("slice negative", a.slice(-2));
print("find " + a.find("fill") + " " + a.find("none") + "\n");

local nums = [5, 3, 9, 1, 7];
nums.sort();
show("sort", nums);
nums.sort(@(x, y) y <=> x);
show("sort desc", nums);
local words = ["pear", "fig", "banana"];
words.sort(@(x, y) x.len() <=> y.len());
show("sort by length", words);
show("map", nums.map(@(v) v * 10));
nums.apply(@(v) v + 1);
show("apply", nums);
show("filter", nums.filter(@(i, v) i % 2 == 0));
print("reduce " + nums.reduce(@(acc, v) acc + v) + " with start " + [].reduce(@(acc, v) acc + v, 100) + " empty " + [].reduce(@(acc, v) acc) + "\n");

local made = array(3, "z");
show("array()", made);
show("array() nulls", array(2));
made.clear();
print("clear " + made.len() + "\n");
local nested = [[1, 2], [3, [4, 5]]];
print("nested " + nested[1][1][0] + "\n");
foreach (i, v in ["a", "b"]) print(i + "=" + v + " ");
print("\n");

foreach (bad in [
    @() [].pop(),
    @() [].top(),
    @() [1].remove(5),
    @() [1].insert(3, 0),
    @() [1].slice(0, 5),
    @() [1, 2][2],
    @() array(-1),
    @() [1].resize(-1),
    @() [3, "a"].sort(),
    @() [1, 2].sort(@(a, b) "not a number"),
]) {
    try { bad(); print("no error\n"); } catch (e) { print("error: " + e + "\n"); }
}

// a comparator that lies, changes the array or throws leaves the array intact and sane
local victim = [4, 2, 8, 6, 1];
local flips = 0;
victim.sort(function(x, y) { flips++; return flips % 2 == 0 ? -1 : 1; });
print("inconsistent comparator kept " + victim.len() + " elements\n");
try {
    victim.sort(function(x, y) { victim.clear(); throw "stop"; });
} catch (e) {
    print("comparator threw: " + e + " len " + victim.len() + "\n");
}
local arr2 = [1, 2, 3];
arr2[1] = "two";
try { arr2[3] = 4; } catch (e) { print("set past end: " + e + "\n"); }
print("float index " + arr2[1.0] + " in " + (2 in arr2) + " " + (3 in arr2) + "\n");
