// Literals, arithmetic, comparison, bitwise and logical operators.
print("ints: " + 10 + " " + 0x1F + " " + 017 + " " + 'A' + " " + -5 + "\n");
print("floats: " + 1.5 + " " + 2.0 + " " + 1e3 + " " + 0.1 + " " + (1.0 / 3) + "\n");
print("strings: " + "tab[\t] nl[\\n] quote[\"] hex[\x41] " + @"verbatim ""quoted"" \n" + "\n");
print("arith: " + (7 + 3) + " " + (7 - 10) + " " + (6 * 7) + " " + (7 / 2) + " " + (-7 / 2) + " " + (7 % 3) + " " + (-7 % 3) + "\n");
print("mixed: " + (7 / 2.0) + " " + (1 + 0.5) + " " + (5.5 % 2) + " " + (2 * 2.5) + "\n");
print("precedence: " + (2 + 3 * 4) + " " + ((2 + 3) * 4) + " " + (10 - 4 - 3) + " " + (2 * 3 % 4) + "\n");

local big = 9223372036854775807;
print("wrap: " + (big + 1) + " " + (-big - 1) + " " + ((-big - 1) / -1) + " " + ((-big - 1) % -1) + " " + (-(-big - 1)) + "\n");
print("literal min: " + -9223372036854775808 + "\n");
foreach (op in [@(a, b) a / b, @(a, b) a % b]) {
    try {
        op(1, 0);
    } catch (e) {
        print("error: " + e + "\n");
    }
}
print("float div by zero: " + (1.0 / 0 > 1e30) + "\n");

print("bits: " + (6 & 3) + " " + (6 | 3) + " " + (6 ^ 3) + " " + (~0) + " " + (1 << 10) + " " + (-16 >> 2) + " " + (-16 >>> 60) + " " + (1 << 64) + "\n");
try { print(1.5 & 1); } catch (e) { print(e + "\n"); }
try { print(~1.5); } catch (e) { print(e + "\n"); }

print("cmp: " + (1 < 2) + " " + (2 <= 2) + " " + (3 > 4) + " " + (3 >= 3) + " " + (1 == 1.0) + " " + (1 != 2) + " " + ("abc" < "abd") + " " + ("b" > "abc") + "\n");
print("3way: " + (1 <=> 2) + " " + (2 <=> 2) + " " + (3 <=> 2) + " " + ("a" <=> "b") + "\n");
print("eq: " + (null == false) + " " + ("1" == 1) + " " + (null == null) + " " + (0.0 == -0.0) + "\n");
try { local x = {} < 1; } catch (e) { print(e + "\n"); }
try { local x = null + 1; } catch (e) { print(e + "\n"); }
try { local x = -{}; } catch (e) { print(e + "\n"); }

print("logic: " + (0 || "x") + " " + (1 && "y") + " " + (null && 1) + " " + (false || 0) + " " + !0 + " " + !"" + "\n");
local calls = 0;
function touch() { calls++; return true; }
local r = false && touch();
r = true || touch();
print("short-circuit calls: " + calls + "\n");
print("ternary: " + (1 > 2 ? "a" : "b") + " " + (null ? 1 : 2) + "\n");

local n = 10;
n += 5; n -= 3; n *= 2; n /= 4; n %= 4;
print("compound: " + n + "\n");
local i = 5;
print("incdec: " + i++ + " " + i + " " + ++i + " " + i-- + " " + --i + "\n");
print("concat: " + ("v" + null + true + 1.5 + [1].len()) + "\n");
local a = 0, b = 0;
a = 1, b = 2;
print("comma: " + (a + b) + "\n");
print("line " + __LINE__ + " file " + __FILE__ + "\n");
