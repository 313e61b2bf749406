\ Euclid's algorithm, recursive: the sum of gcd(a, b) for every a and b
\ from 1 to 1000, printed digit by digit, being more than six digits long.
: gcd ( a b -- g )  dup if  swap over mod recurse  else drop then ;
: digits ( n -- )  10 /mod ?dup if recurse then [char] 0 + emit ;
: gcd-sum ( -- n )  0  1001 1 do  1001 1 do  j i gcd +  loop loop ;
gcd-sum digits space cr
