-- Method calls on objects (metatable methods) that read and write fields.
local Point = {}
Point.__index = Point
function Point.new(a, b) return setmetatable({x = a, y = b}, Point) end
function Point:add(o) self.x = self.x + o.x; self.y = self.y + o.y; return self end
function Point:len2() return self.x * self.x + self.y * self.y end
local p = Point.new(0, 0)
local d = Point.new(1, 2)
local acc = 0
for i = 0, 1999999 do
  p:add(d)
  acc = acc + (p:len2() & 7)
end
print(acc)
