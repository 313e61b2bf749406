-- Ackermann's function, doubly recursive: a table of A(3, n) for n from 0
-- to 5, then the sum of A(2, n) for n below 220.
local function ack(m, n)
  if m == 0 then
    return n + 1
  elseif n == 0 then
    return ack(m - 1, 1)
  else
    return ack(m - 1, ack(m, n - 1))
  end
end

for n = 0, 5 do
  io.write(ack(3, n), " ")
end
io.write("\n")
local sum = 0
for n = 0, 219 do
  sum = sum + ack(2, n)
end
io.write(sum, " \n")
