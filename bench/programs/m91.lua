-- McCarthy's 91 function, nested recursion: M(n) = n - 10 above 100, else
-- M(M(n + 11)). The sum of M(n) for n from 0 to 100, 1200 times over.
local function m91(n)
  if n > 100 then return n - 10 end
  return m91(m91(n + 11))
end

local sum = 0
for _ = 1, 1200 do
  for n = 0, 100 do sum = sum + m91(n) end
end
io.write(sum, " \n")
