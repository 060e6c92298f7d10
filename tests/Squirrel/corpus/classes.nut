// Classes, inheritance, static members, attributes, base, instanceof and instance metamethods.
class Animal </ category = "base class" /> {
    name = "nobody";
    legs = 4;
    static kingdom = "animalia";
    tags = null;
    constructor(n) { name = n; tags = []; }
    function speak() { return name + " makes a sound"; }
    function describe() { return name + " has " + legs + " legs (" + kingdom + ")"; }
}
class Bird extends Animal {
    legs = 2;
    </ loud = true />
    function speak() { return base.speak() + ": tweet"; }
}
local cat = Animal("cat");
local bird = Bird("bird");
print(cat.speak() + " | " + bird.speak() + "\n");
print(cat.describe() + " | " + bird.describe() + "\n");
print("instanceof " + (bird instanceof Bird) + " " + (bird instanceof Animal) + " " + (cat instanceof Bird) + " " + ({} instanceof Animal) + "\n");
print("typeof " + typeof cat + " " + typeof Animal + " getclass " + (bird.getclass() == Bird) + " base " + (Bird.getbase() == Animal) + " " + Animal.getbase() + "\n");
print("static " + Animal.kingdom + " " + cat.kingdom + " " + Bird.kingdom + "\n");
print("attributes " + Animal.getattributes(null).category + " " + Bird.getattributes("speak").loud + " " + Bird.getattributes("legs") + "\n");
cat.tags.append("pet");
print("fields are per instance: " + cat.tags.len() + " " + bird.tags.len() + "\n");
try { cat.wings = 2; } catch (e) { print("set unknown member: " + e + "\n"); }
try { cat.wings <- 2; } catch (e) { print("new slot on instance: " + e + "\n"); }
try { Animal.extra <- 1; } catch (e) { print("modify after instantiation: " + e + "\n"); }
try { cat.kingdom = "x"; } catch (e) { print("static through instance: " + e + "\n"); }
Animal.kingdom = "changed";
print("static changed: " + bird.kingdom + " " + cat.kingdom + "\n");
print("rawin " + cat.rawin("name") + " " + cat.rawin("speak") + " " + cat.rawin("nothing") + " rawget " + cat.rawget("legs") + "\n");
local members = [];
foreach (k, v in Bird) members.append(k);
members.sort();
print("members: " + members.len() + " first " + members[0] + "\n");

class Lazy { value = 1; }
local raw = Lazy.instance();
print("instance() without constructor: " + raw.value + "\n");
local added = class {};
added.newmember("answer", 42);
added.rawnewmember("doubled", @() answer * 2);
print("newmember " + added().answer + " " + added().doubled() + "\n");

class Vec {
    x = 0; y = 0;
    constructor(a = 0, b = 0) { x = a; y = b; }
    function _add(o) { return Vec(x + o.x, y + o.y); }
    function _sub(o) { return Vec(x - o.x, y - o.y); }
    function _mul(k) { return Vec(x * k, y * k); }
    function _div(k) { return Vec(x / k, y / k); }
    function _modulo(k) { return Vec(x % k, y % k); }
    function _unm() { return Vec(-x, -y); }
    function _cmp(o) { return (x + y) <=> (o.x + o.y); }
    function _tostring() { return "Vec(" + x + "," + y + ")"; }
    function _typeof() { return "Vec"; }
    function _call(self, extra) { return x + y + extra; }
    function _get(key) { if (key == "sum") return x + y; throw null; }
    function _set(key, value) { if (key == "both") { x = value; y = value; return; } throw null; }
    function _cloned(original) { x = original.x * 100; }
    function _nexti(prev) { return prev == null ? "x" : prev == "x" ? "y" : null; }
}
local v = Vec(3, 4), w = Vec(1, 2);
print("arith " + (v + w) + " " + (v - w) + " " + (v * 2) + " " + (v / 2) + " " + (v % 2) + " " + (-v) + "\n");
print("cmp " + (v > w) + " " + (v < w) + " " + (v <=> Vec(4, 3)) + " typeof " + typeof v + " call " + v(10) + "\n");
print("_get " + v.sum + " ");
v.both = 7;
print("_set " + v + "\n");
try { v.nothing = 1; } catch (e) { print("_set refused: " + e + "\n"); }
try { print(v.nothing); } catch (e) { print("_get refused: " + e + "\n"); }
print("_cloned " + (clone w) + " original " + w + "\n");
foreach (k, val in v) print(k + "=" + val + " ");
print("\n");
print("equality is identity: " + (v == v) + " " + (Vec(1, 1) == Vec(1, 1)) + "\n");

class Sealed {
    function _inherited(attributes) { throw "Sealed cannot be inherited"; }
}
try { class Sub extends Sealed {} } catch (e) { print("_inherited: " + e + "\n"); }
class Recorder {
    static log = [];
    function _newmember(name, value, attributes, isstatic) {
        log.append(name);
        this.rawnewmember(name, value, attributes, isstatic);
    }
}
class Recorded extends Recorder { a = 1; function b() {} }
print("_newmember saw " + Recorder.log.len() + ": " + Recorder.log[0] + "," + Recorder.log[1] + " and works " + Recorded().a + "\n");
try { class Bad extends 5 {} } catch (e) { print("extends: " + e + "\n"); }
try { local x = 5 instanceof 6; } catch (e) { print("instanceof: " + e + "\n"); }
class NoCtor { v = "default"; }
print("no constructor " + NoCtor().v + "\n");
class Bag {
    items = null;
    constructor() { items = {}; }
    function _newslot(key, value) { items[key] <- value; }
    function _delslot(key) { local v = items[key]; delete items[key]; return v; }
    function _get(key) { if (key in items) return items[key]; throw null; }
}
local bag = Bag();
bag.apple <- 3;
print("instance _newslot/_get: " + bag.apple + " " + bag.items.len() + " _delslot: " + delete bag.apple + " " + bag.items.len() + "\n");
try { delete cat.name; } catch (e) { print("delete on a plain instance: " + e + "\n"); }
