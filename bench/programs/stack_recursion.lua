-- Counts the ways to choose k of n things, C(n, k) = C(n-1, k-1) + C(n-1, k),
-- by doubly recursive calls: C(2n, n) for n from 0 to 10, then C(24, 12),
-- 5.9 million calls in all.
local function choose(n, k)
  if k == n or k == 0 then
    return 1
  end
  return choose(n - 1, k - 1) + choose(n - 1, k)
end

for n = 0, 10 do
  io.write(choose(2 * n, n), " ")
end
io.write("\n")
io.write(choose(24, 12), " \n")
