-- The longest Collatz walk from a start below 100000: from n a walk goes to
-- n/2 when n is even and to 3n+1 when it is odd, until it reaches 1.
local function walk(n)
  local count = 0
  repeat
    if n % 2 == 1 then n = 3 * n + 1 else n = n // 2 end
    count = count + 1
  until n == 1
  return count
end

local best, longest = 0, 0
for start = 1, 99999 do
  local length = walk(start)
  if length > longest then best, longest = start, length end
end
io.write(best, " ", longest, " \n")
