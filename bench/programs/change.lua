-- Counts the ways to make change for 400 cents from coins of 1, 5, 10, 25
-- and 50 cents, by the doubly recursive count: the ways that leave the
-- largest kind of coin out, plus those that use it once more.
local coins = {1, 5, 10, 25, 50}

local function cc(amount, kinds)
  if amount == 0 then return 1 end
  if amount < 0 or kinds == 0 then return 0 end
  return cc(amount, kinds - 1) + cc(amount - coins[kinds], kinds)
end

io.write(cc(400, 5), " \n")
