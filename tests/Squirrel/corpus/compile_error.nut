// A compile error stops the script before anything runs.
print("never printed\n");
local x = [1, 2
local y = 3;
