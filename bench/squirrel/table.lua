-- Table reads and writes with integer and string keys.
local t = {}
for i = 0, 999 do t[i] = 0 end
local stats = { hits = 0, sum = 0 }
for i = 0, 2999999 do
  local k = i % 1000
  t[k] = t[k] + i
  stats.hits = stats.hits + 1
  stats.sum = stats.sum + (t[k] & 0xff)
end
print(stats.hits .. " " .. stats.sum)
