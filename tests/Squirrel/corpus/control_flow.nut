// Statements: if, loops, switch, break/continue, try/catch/throw and every kind of runtime error.
function classify(n) {
    if (n < 0) return "negative";
    else if (n == 0) return "zero";
    else if (n < 10) return "small";
    else return "large";
}
print(classify(-1) + " " + classify(0) + " " + classify(5) + " " + classify(50) + "\n");

local i = 0, log = "";
while (i < 10) {
    i++;
    if (i % 2) continue;
    if (i > 6) break;
    log += i;
}
print("while " + log + "\n");
local n = 0;
do { n++; } while (n < 3);
do { n += 100; } while (false);
print("do " + n + "\n");
log = "";
for (local a = 0, b = 10; a < b; a += 3, b -= 1) log += a + "-" + b + " ";
print("for " + log + "\n");
log = "";
for (;;) { log += "x"; if (log.len() == 3) break; }
print("endless for " + log + "\n");
log = "";
for (local outer = 0; outer < 3; outer++) {
    foreach (inner in [0, 1, 2]) {
        if (inner == outer) continue;
        if (inner > 1) break;
        log += outer + "" + inner + " ";
    }
}
print("nested " + log + "\n");

function sw(v) {
    local out = "";
    switch (v) {
        case 1:
            out += "one ";
        case 2:
            out += "two ";
            break;
        case "s":
            out += "string ";
            break;
        case 1 + 2:
            out += "three ";
            break;
        default:
            out += "default ";
    }
    return out;
}
print("switch " + sw(1) + "| " + sw(2) + "| " + sw("s") + "| " + sw(3) + "| " + sw(null) + "\n");
local loopSwitch = "";
foreach (v in [1, 2, 3]) {
    switch (v) {
        case 2: continue;
        default: loopSwitch += v;
    }
}
print("continue through switch " + loopSwitch + "\n");

// try/catch: thrown values of any type, nesting, rethrow, finally-like cleanup
foreach (value in [1, "text", null, [1, 2], { code = 7 }]) {
    try {
        throw value;
    } catch (e) {
        print("caught " + typeof e + " ");
    }
}
print("\n");
try {
    try {
        throw "inner";
    } catch (e) {
        throw "rethrown " + e;
    }
} catch (e) {
    print(e + "\n");
}
function thrower() { throw "from function"; }
function middle() { local r = thrower(); return r; }
try { middle(); } catch (e) { print("through frames: " + e + "\n"); }
local afterLoop = "";
foreach (v in [1, 2, 3]) {
    try {
        if (v == 2) break;
        afterLoop += v;
    } catch (e) {}
}
try { throw "still trapped"; } catch (e) { afterLoop += " " + e; }
print("break out of try: " + afterLoop + "\n");
function returnInTry() { try { return "returned"; } catch (e) {} }
print(returnInTry() + " and traps stay balanced: ");
try { throw "ok"; } catch (e) { print(e + "\n"); }

local errors = [
    @() 1 / 0,
    @() 1 % 0,
    @() null.field,
    @() [1][7],
    @() "s" - 1,
    @() {} < {},
    @() 1.5 | 1,
    @() (5)(),
    @() nofunction(),
    @() ::undefined_global,
    @() delete {}.missing,
    @() (@(a) a)(),
    @() [].pop(),
    @() assert(false),
    @() assert(false, "custom assertion"),
    @() resume 5,
    @() compilestring("local = 1"),
    @() (clone 5).x,
    @() "a" + [],
    @() (function() { local c = class {}; return c().missing; })(),
];
foreach (idx, f in errors) {
    try {
        f();
        print(idx + ": no error\n");
    } catch (e) {
        print(idx + ": " + e + "\n");
    }
}
