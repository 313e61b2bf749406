-- Euclid's algorithm, recursive: the sum of gcd(a, b) for every a and b
-- from 1 to 1000.
local function gcd(a, b)
  if b ~= 0 then return gcd(b, a % b) end
  return a
end

local sum = 0
for a = 1, 1000 do
  for b = 1, 1000 do sum = sum + gcd(a, b) end
end
io.write(sum, " \n")
