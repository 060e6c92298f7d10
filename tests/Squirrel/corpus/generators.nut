// Generators: yield, resume, foreach, status transitions, return values and errors.
function range(from, to) {
    for (local i = from; i < to; i++)
        yield i;
    return "finished";
}
local g = range(0, 3);
print("fresh " + g.getstatus() + " typeof " + typeof g + "\n");
print("resume " + resume g + " " + resume g + " " + resume g + " status " + g.getstatus() + "\n");
print("last resume gives the return value: " + resume g + " status " + g.getstatus() + "\n");
try { resume g; } catch (e) { print("error: " + e + "\n"); }

local collected = "";
foreach (i, v in range(10, 13)) collected += i + ":" + v + " ";
print("foreach " + collected + "\n");

function fibs() {
    local a = 0, b = 1;
    while (true) {
        yield a;
        local t = a + b;
        a = b;
        b = t;
    }
}
local seq = "";
foreach (v in fibs()) {
    if (v > 50) break;
    seq += v + " ";
}
print("infinite generator " + seq + "\n");

function selfAware() {
    print("inside: " + ::current.getstatus() + "\n");
    yield 1;
}
::current <- selfAware();
resume ::current;
print("after: " + ::current.getstatus() + "\n");

function recursive() { yield resume ::again; }
::again <- recursive();
try { resume ::again; } catch (e) { print("self resume: " + e + "\n"); }

function withTraps() {
    try {
        yield "in try";
        throw "problem";
    } catch (e) {
        yield "caught " + e;
    }
    yield "done";
}
foreach (v in withTraps()) print(v + " | ");
print("\n");

function failing() { yield 1; throw "generator failed"; }
local fg = failing();
resume fg;
try { resume fg; } catch (e) { print("error propagates: " + e + " status " + fg.getstatus() + "\n"); }

function params(a, b = 2, ...) {
    yield a + b;
    yield vargv.len();
}
local pg = params(1, 5, "x", "y");
print("params " + resume pg + " " + resume pg + "\n");

function captures() {
    local count = 0;
    local bump = function() { count++; return count; };
    yield bump();
    yield bump();
}
local cg = captures();
print("captured locals " + resume cg + " " + resume cg + "\n");
local empty = (function() { if (false) yield 1; })();
local n = 0;
foreach (v in empty) n++;
print("empty generator iterations " + n + "\n");

// a suspended generator and the closures made in it share the captured locals
function shared() {
    local count = 0;
    local bump = function() { count += 10; return count; };
    yield bump;
    count++;
    yield count;
    yield bump();
    yield count;
}
local sg = shared();
local bumper = resume sg;
local seen = [bumper(), resume sg, resume sg, bumper(), resume sg, resume sg, bumper()];
sg = null;
seen.append(bumper());
local line = "";
foreach (v in seen) line += v + " ";
print("shared locals " + line + "\n");
