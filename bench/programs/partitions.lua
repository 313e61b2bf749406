-- Counts the partitions of 58, the ways to write it as a sum of whole
-- numbers without regard to order, by the doubly recursive count of the
-- partitions of n into parts no larger than k: those without a part k,
-- plus those with one more.
local function parts(n, k)
  if n == 0 then return 1 end
  if n < 0 or k == 0 then return 0 end
  return parts(n, k - 1) + parts(n - k, k)
end

io.write(parts(58, 58), " \n")
