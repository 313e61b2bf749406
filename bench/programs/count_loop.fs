\ A counted loop around a two-word body: the sum of 0 .. 99999999.
: run  0  100000000 0 do  i +  loop ;
run . cr
