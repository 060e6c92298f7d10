// Runaway recursion of every kind, and sources nested beyond reason, give errors instead of crashes.
function recurse(n) { return 1 + recurse(n + 1); }
try { recurse(0); } catch (e) { print("script recursion: " + e + "\n"); }
print("the stack works again: " + recurse.getinfos().name + "\n");
class Loop { function _tostring() { return "" + this; } }
try { print(Loop().tostring()); } catch (e) { print("_tostring recursion: " + e + "\n"); }
class Cmp { function _cmp(o) { return this < o ? -1 : 1; } }
try { local r = Cmp() < Cmp(); } catch (e) { print("_cmp recursion: " + e + "\n"); }
class Getter { function _get(k) { return this[k]; } }
try { Getter().x; } catch (e) { print("_get recursion: " + e + "\n"); }
function mapper(a) { return [a].map(mapper); }
try { mapper(1); } catch (e) { print("native recursion: " + e + "\n"); }
seterrorhandler(null);
function spawn(n) { return newthread(spawn).call(n + 1); }
try { spawn(0); } catch (e) { print("thread recursion: " + e + "\n"); }
function nestedGenerators() { yield resume nestedGenerators(); }
try { resume nestedGenerators(); } catch (e) { print("generator recursion: " + e + "\n"); }

function repeat(s, n) { local r = ""; for (local i = 0; i < n; i++) r += s; return r; }
foreach (name, src in {
    parentheses = "return " + repeat("(", 500) + "1" + repeat(")", 500),
    blocks = repeat("{", 500) + repeat("}", 500),
    unary = "return " + repeat("-", 1000) + "1",
    arrays = "return " + repeat("[", 500) + repeat("]", 500),
    longChain = "return 1" + repeat(" + 1", 5000),
    functions = repeat("function f() {", 300) + repeat("}", 300),
}) {
    try { compilestring(src); print(name + ": compiled\n"); } catch (e) { print(name + ": " + e + "\n"); }
}
print("moderate chain: " + compilestring("return 1" + repeat(" + 1", 300))() + "\n");
local elseifs = "local v = 0; if (v == 1) v = 1;";
for (local i = 2; i < 2000; i++) elseifs += " else if (v == " + i + ") v = " + i + ";";
print("long else-if chain: " + compilestring(elseifs + " return \"ok\";")() + "\n");
