// const and enum are compile-time values read from the constant table.
const ANSWER = 42;
const NAME = "squirrel";
const NEG = -1.5;
const FLAG = true;
enum Fruit { Apple, Banana = 10, Cherry, Date = "d" }
print(ANSWER + " " + NAME + " " + NEG + " " + FLAG + "\n");
print(Fruit.Apple + " " + Fruit.Banana + " " + Fruit.Cherry + " " + Fruit.Date + "\n");
function usesConstants() { return ANSWER * 2 + Fruit.Banana; }
print("inside functions: " + usesConstants() + "\n");
class UsesEnum { value = Fruit.Cherry; }
print("class defaults: " + UsesEnum().value + "\n");
{
    local ANSWER = "local wins";
    print(ANSWER + "\n");
}
print("const table at run time: " + getconsttable().ANSWER + " " + getconsttable().Fruit.Apple + "\n");
getconsttable().LATER <- "added at run time";
print("seen by later compiles: " + compilestring("return LATER")() + "\n");
compilestring("const FROM_CHUNK = 7;")();
print("consts of a compiled chunk: " + compilestring("return FROM_CHUNK * 6")() + "\n");
local previous = setconsttable({ ONLY = "replacement" });
print("replaced table: " + compilestring("return ONLY")() + "\n");
local swapped = setconsttable(previous);
print("restored: " + compilestring("return ANSWER")() + " swapped back " + swapped.ONLY + "\n");
try { compilestring("return ONLY")(); } catch (e) { print("gone again: " + e + "\n"); }
foreach (source in ["ANSWER = 1", "ANSWER <- 1", "local x = Fruit", "local y = Fruit.Kiwi", "const C = x;", "enum E { A = [] }", "delete ANSWER"]) {
    try { compilestring(source); print(source + ": compiled\n"); } catch (e) { print(source + ": " + e + "\n"); }
}
