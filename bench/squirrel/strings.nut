// String building: number-to-text concatenation and appending.
local total = 0;
for (local i = 0; i < 300000; i++) {
  local s = "item" + i + ":" + (i * 2);
  total += s.len();
}
local parts = [];
for (local i = 0; i < 100000; i++) parts.append("x" + i);
local joined = "";
foreach (p in parts) { if (joined.len() > 1000) joined = ""; joined += p; }
print(total + " " + joined.len() + "\n");
