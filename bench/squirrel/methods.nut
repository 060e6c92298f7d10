// Method calls on class instances that read and write fields.
class Point {
  x = 0; y = 0;
  constructor(a, b) { x = a; y = b; }
  function add(o) { x += o.x; y += o.y; return this; }
  function len2() { return x * x + y * y; }
}
local p = Point(0, 0);
local d = Point(1, 2);
local acc = 0;
for (local i = 0; i < 2000000; i++) {
  p.add(d);
  acc += p.len2() & 7;
}
print(acc + "\n");
