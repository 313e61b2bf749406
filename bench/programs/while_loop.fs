\ A loop with a test, counting in a variable to 30 million.
variable a
: run  0 a !  begin  1 a +!  a @ 30000000 <  while repeat ;
run  a @ . cr
