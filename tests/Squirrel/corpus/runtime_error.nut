// An uncaught runtime error prints its position and the call stack, and the exit status is 1.
function inner(t) {
    return t.missing;
}
function outer() {
    local r = inner({});
    return r;
}
print("before\n");
outer();
print("never printed\n");
