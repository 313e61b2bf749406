\ Counts the ways to choose k of n things, C(n, k) = C(n-1, k-1) + C(n-1, k),
\ by doubly recursive calls that keep n and k on the stack alone: C(2n, n)
\ for n from 0 to 10, then C(24, 12), 5.9 million calls in all.
: choose ( n k -- c )
  2dup = over 0= or if  2drop 1  else
  swap 1- swap 2dup 1- recurse -rot recurse +  then ;
: choose-table  11 0 do  i 2* i choose .  loop cr ;
choose-table  24 12 choose . cr
