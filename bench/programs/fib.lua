-- Doubly recursive Fibonacci: 2.7 million calls of a function.
local function fib(n)
  if n >= 2 then
    n = fib(n - 1) + fib(n - 2)
  end
  return n
end

io.write(fib(30), " \n")
