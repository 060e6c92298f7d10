// The blob library.
local b = blob();
print("empty: len " + b.len() + " tell " + b.tell() + " eos " + b.eos() + " typeof " + typeof b + "\n");
b.writen(65, 'c');
b.writen(-2, 'b');
b.writen(0x1234, 's');
b.writen(0xFFFF, 'w');
b.writen(-100000, 'i');
b.writen(1 << 40, 'l');
b.writen(1.5, 'f');
b.writen(0.25, 'd');
print("written " + b.len() + " bytes, tell " + b.tell() + "\n");
b.seek(0);
print("read back: " + b.readn('c') + " " + b.readn('b') + " " + b.readn('s') + " " + b.readn('w') + " " + b.readn('i') + " " + b.readn('l') + " " + b.readn('f') + " " + b.readn('d') + " eos " + b.eos() + "\n");
try { b.readn('i'); } catch (e) { print("read past end: " + e + "\n"); }
try { b.readn('z'); } catch (e) { print("bad type: " + e + "\n"); }
b.seek(-4, 'e');
print("seek from end: tell " + b.tell() + "\n");
b.seek(2, 'c');
print("seek relative: tell " + b.tell() + "\n");
try { b.seek(100); } catch (e) { print("bad seek: " + e + "\n"); }

local bytes = blob(4);
for (local i = 0; i < 4; i++) bytes[i] = i * 16;
print("indexing: " + bytes[0] + " " + bytes[3] + " " + (2 in bytes) + "\n");
try { bytes[4] = 1; } catch (e) { print("index out: " + e + "\n"); }
try { print(bytes[-1]); } catch (e) { print("index out: " + e + "\n"); }
local walked = "";
foreach (i, v in bytes) walked += i + "=" + v + " ";
print("foreach: " + walked + "\n");
bytes.swap2();
print("swap2: " + bytes[0] + " " + bytes[1] + " " + bytes[2] + " " + bytes[3] + "\n");
bytes.swap4();
print("swap4: " + bytes[0] + " " + bytes[1] + " " + bytes[2] + " " + bytes[3] + "\n");
local copy = clone bytes;
copy[0] = 99;
print("clone is independent: " + bytes[0] + " " + copy[0] + " " + copy.len() + "\n");
bytes.resize(6);
print("resize: " + bytes.len() + " last " + bytes[5] + "\n");
bytes.seek(0);
local part = bytes.readblob(2);
print("readblob: " + typeof part + " " + part.len() + " " + part[0] + " tell " + bytes.tell() + "\n");
local sink = blob();
sink.writeblob(part);
sink.writeblob(part);
print("writeblob: " + sink.len() + "\n");
sink.seek(4);
try { sink.readblob(1); } catch (e) { print("readblob at end: " + e + "\n"); }
try { blob(-1); } catch (e) { print("negative size: " + e + "\n"); }
local text = blob();
foreach (c in "hi!") text.writen(c, 'b');
print("text bytes: " + text.len() + " " + text.tostring() + "\n");
print("casts: " + castf2i(1.0) + " " + casti2f(1065353216) + " " + swap2(0x1234) + " " + swap4(0x12345678) + " " + castf2i(swapfloat(swapfloat(2.5))) + "\n");
local uninitialised = blob.instance();
try { uninitialised.len(); } catch (e) { print("instance without constructor: " + e + "\n"); }
