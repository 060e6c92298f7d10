// regexp with Squirrel's pattern syntax.
function range(r) { return r == null ? "null" : r.begin + ".." + r.end; }
local re = regexp("a+b");
print("match " + re.match("aaab") + " " + re.match("aaabc") + " " + re.match("b") + "\n");
local digits = regexp("\\d+");
print("search " + range(digits.search("abc 123 def 45")) + " from 7 " + range(digits.search("abc 123 def 45", 7)) + " none " + range(digits.search("abc")) + "\n");
local mail = regexp("(\\w+)@(\\w+)\\.com");
local caps = mail.capture("mail: joe@example.com!");
print("capture " + caps.len() + ": " + range(caps[0]) + " " + range(caps[1]) + " " + range(caps[2]) + " subexpcount " + mail.subexpcount() + "\n");
print("capture without match: " + mail.capture("nothing here") + "\n");
local alt = regexp("(a)|(b)").capture("b");
print("unmatched group: " + range(alt[1]) + " " + range(alt[2]) + "\n");

local cases = [
    ["^abc$", "abc"], ["^abc$", "xabc"], ["a.c", "a\nc"], ["cat|dog", "hotdog"],
    ["[a-c]+", "xxabcabd"], ["[^0-9]+", "123abc456"], ["[\\d\\s]+", "1 2 3"], ["[]x]+", "a]x]b"],
    ["colou?r", "color"], ["colou?r", "colour"], ["a{3}", "aaa"], ["^a{3}$", "aa"], ["a{2,}", "aaaaa"],
    ["^a{2,3}$", "aaaa"], ["^a{2,3}$", "aaa"], ["(?:ab)+", "ababab"], ["\\bcat\\b", "concat cat"],
    ["\\Bcat", "concat cat"], ["\\a+", "12ab34"], ["\\A+", "ab12cd"], ["\\w+", "  word  "], ["\\W+", "ab, cd"],
    ["\\s+", "a \t b"], ["\\S+", "  xy  "], ["\\D+", "12ab34"], ["\\x+", "zzBEEF!"], ["\\X+", "BEEFzz"],
    ["\\c", "a\tb"], ["\\C+", "\t\tab"], ["\\p+", "ab,.;cd"], ["\\P+", ",;ab,"], ["\\u\\l+", "hello World"],
    ["\\.\\*\\+", "x.*+y"], ["a.*b", "axxbyyb"], ["\\t", "a\tb"], ["(a*)*b", "aaab"],
];
foreach (c in cases) print(c[0] + " -> " + range(regexp(c[0]).search(c[1])) + "\n");

// patterns that backtrack exponentially elsewhere finish quickly here
local as = "";
for (local i = 0; i < 40; i++) as += "a";
print("pathological " + regexp("(a*)*$").match(as + "b") + " " + regexp("(a|aa)+$").match(as + "b") + " " + regexp("^(a+)+$").match(as) + "\n");
local xs = "";
for (local i = 0; i < 20000; i++) xs += "x";
print("long input " + range(regexp("x*y").search(xs)) + " " + range(regexp("x+$").search(xs)) + "\n");

local nested = "";
for (local i = 0; i < 300; i++) nested = "(" + nested + ")";
foreach (bad in ["(abc", "[abc", "*a", "a{3", "a{5,2}", "abc)", "a\\", "a{99999}", "(a{1000}){1000}", "[z-a]", nested]) {
    try { regexp(bad); print("compiled\n"); } catch (e) { print("error: " + e + "\n"); }
}
