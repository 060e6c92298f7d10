// The console streams, and what scripts cannot reach.
stdout.writen('H', 'c');
stdout.writen('i', 'b');
local bytes = blob();
foreach (c in "!\n") bytes.writen(c, 'b');
stdout.writeblob(bytes);
stdout.flush();
stderr.writen('E', 'c');
stderr.writen('\n', 'c');
print("typeof " + typeof stdout + " same class " + (stdout.getclass() == stderr.getclass()) + "\n");
foreach (attempt in [
    @() stdout.readn('c'),
    @() stderr.readblob(1),
    @() stdout.eos(),
    @() stdin.writen(65, 'c'),
    @() stdin.writeblob(blob(1)),
    @() stdin.readn('c'),
    @() stdin.readblob(4),
    @() stdin.readn('q'),
    @() stdout.writen("text", 'c'),
    @() stdout.writen(1, 'q'),
    @() stdout.getclass()(),
    @() stdout.getclass().instance().writen(65, 'c'),
]) {
    try { attempt(); print("no error\n"); } catch (e) { print("error: " + e + "\n"); }
}
print("stdin at end: " + stdin.eos() + "\n");
local members = [];
foreach (name, value in stdout.getclass()) members.append(name);
members.sort();
local list = "";
foreach (m in members) list += m + " ";
print("stream members: " + list + "\n");
foreach (name in ["file", "system", "remove", "rename", "loadfile", "dofile", "writeclosuretofile"])
    print(name + (name in getroottable() ? " is present" : " is absent") + "\n");
