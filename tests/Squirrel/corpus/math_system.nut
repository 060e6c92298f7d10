// The mathematics and system libraries.
print("roots " + sqrt(16) + " " + sqrt(2) + " " + pow(2, 10) + " " + pow(2, 0.5) + " " + exp(0) + "\n");
print("trig " + sin(0) + " " + cos(0) + " " + asin(1) + " " + acos(1) + " " + tan(0) + " " + atan(1) + " " + atan2(1, 1) + "\n");
print("logs " + log(1) + " " + log10(1000) + "\n");
print("rounding " + floor(2.7) + " " + ceil(2.1) + " " + floor(-2.5) + " " + ceil(-2.5) + " " + typeof floor(1.5) + "\n");
print("abs " + abs(-7) + " " + abs(5) + " " + typeof abs(-1) + " " + fabs(-3.5) + " " + abs(-9223372036854775807 - 1) + "\n");
print("constants " + PI + " " + RAND_MAX + "\n");
print("nan " + (sqrt(-1) != sqrt(-1)) + " inf " + (exp(1000) > 1e30) + "\n");
srand(42);
local first = [rand(), rand(), rand()];
srand(42);
local second = [rand(), rand(), rand()];
local inRange = true;
for (local i = 0; i < 1000; i++) {
    local r = rand();
    if (r < 0 || r > RAND_MAX) inRange = false;
}
print("rand repeats after srand: " + (first[0] == second[0] && first[1] == second[1] && first[2] == second[2]) + " in range: " + inRange + " varies: " + (first[0] != first[1]) + "\n");
try { sqrt("x"); } catch (e) { print("bad argument: " + e + "\n"); }

print("time " + typeof time() + " " + (time() > 1600000000) + " clock " + typeof clock() + " " + (clock() >= 0) + "\n");
foreach (when in [0, 86400 * 365 + 3723]) {
    local d = date(when, 'u');
    print("date " + d.year + "-" + (d.month + 1) + "-" + d.day + " " + d.hour + ":" + d.min + ":" + d.sec + " wday " + d.wday + " yday " + d.yday + "\n");
}
print("local date has a year: " + typeof date().year + "\n");
print("getenv of an unset name: " + getenv("HALDEN_SURELY_UNSET_VARIABLE") + "\n");
