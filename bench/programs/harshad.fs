\ Counts the numbers up to 1500000 that are divisible by the sum of their
\ decimal digits, taking the digits off with /mod.
: digitsum ( n -- s )  0 swap begin  10 /mod -rot + swap  dup 0= until drop ;
: harshad? ( n -- flag )  dup digitsum mod 0= ;
: run ( -- n )  0  1500001 1 do  i harshad? if 1+ then  loop ;
run . cr
