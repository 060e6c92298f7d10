// String default methods and the string library.
local s = "Hello, World";
print("len " + s.len() + " upper " + s.toupper() + " lower " + s.tolower() + "\n");
print("slice " + s.slice(7) + "|" + s.slice(0, 5) + "|" + s.slice(-5, -1) + "|" + s.slice(3, 3) + "|\n");
print("find " + s.find("o") + " " + s.find("o", 5) + " " + s.find("xyz") + " " + s.find("") + "\n");
print("index " + s[0] + " " + s[s.len() - 1] + " in " + (0 in s) + " " + (99 in s) + "\n");
local chars = "";
foreach (i, c in "abc") chars += i + ":" + c.tochar() + " ";
print("foreach " + chars + "\n");
print("tointeger " + "42".tointeger() + " " + "-17".tointeger() + " " + "ff".tointeger(16) + " " + "101".tointeger(2) + " " + "3.9".tointeger() + "\n");
print("tofloat " + "2.5".tofloat() + " " + "1e2".tofloat() + " tostring " + (12).tostring() + " " + "x".tostring() + "\n");
foreach (bad in [@() "abc".tointeger(), @() "".tofloat(), @() "12".tointeger(1), @() "abc".slice(2, 1), @() "abc".slice(0, 10), @() "abc"[3]]) {
    try { bad(); print("no error\n"); } catch (e) { print("error: " + e + "\n"); }
}
print("compare " + ("a" < "b") + " " + ("abc" == "abc") + " " + ("abc" == "abd") + " " + ("Z" < "a") + "\n");
print("numbers " + (65).tochar() + " " + (3.7).tointeger() + " " + (2).tofloat() + " " + true.tointeger() + " " + (-1.5).tostring() + "\n");

print("format " + format("[%d] [%5d] [%-5d] [%05d] [%+d] [%x] [%X] [%o] [%c]", 42, 42, 42, 42, 42, 255, 255, 8, 65) + "\n");
print("format " + format("[%f] [%.2f] [%8.3f] [%e] [%g] [%s] [%10s] [%-6s] [%.2s] [%%]", 1.5, 3.14159, 2.5, 12345.678, 0.0001, "str", "right", "left", "truncate") + "\n");
print("format mixed " + format("%d %s %.1f", 1.9, "x", 2) + "\n");
foreach (bad in [
    @() format("%d"),
    @() format("%d", "str"),
    @() format("%f", "str"),
    @() format("%s", 1),
    @() format("%q", 1),
    @() format("%123d", 1),
    @() format("%.123f", 1.0),
    @() format("trailing %"),
]) {
    try { bad(); print("no error\n"); } catch (e) { print("error: " + e + "\n"); }
}

print("strip [" + strip("  a b \t\n") + "] [" + lstrip("  a b  ") + "] [" + rstrip("  a b  ") + "]\n");
local parts = split("a,b;;c", ",;");
print("split " + parts.len() + ":");
foreach (p in parts) print(" [" + p + "]");
print("\n");
parts = split("a,b;;c", ",;", true);
print("split skipping empty " + parts.len() + "\n");
print("escape " + escape("tab\tquote\"back\\nl\nbell\x07soh\x01") + "\n");
print("startswith " + startswith("prefix-rest", "prefix") + " " + startswith("pre", "prefix") + " endswith " + endswith("file.nut", ".nut") + " " + endswith("nut", "file.nut") + "\n");
