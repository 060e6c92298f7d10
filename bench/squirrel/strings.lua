-- String building: number-to-text concatenation and appending.
local total = 0
for i = 0, 299999 do
  local s = "item" .. i .. ":" .. (i * 2)
  total = total + #s
end
local parts = {}
for i = 0, 99999 do parts[#parts + 1] = "x" .. i end
local joined = ""
for _, p in ipairs(parts) do if #joined > 1000 then joined = "" end joined = joined .. p end
print(total .. " " .. #joined)
