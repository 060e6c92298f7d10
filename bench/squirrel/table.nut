// Table reads and writes with integer and string keys.
local t = {};
for (local i = 0; i < 1000; i++) t[i] <- 0;
local stats = { hits = 0, sum = 0 };
for (local i = 0; i < 3000000; i++) {
  local k = i % 1000;
  t[k] = t[k] + i;
  stats.hits += 1;
  stats.sum += t[k] & 0xff;
}
print(stats.hits + " " + stats.sum + "\n");
