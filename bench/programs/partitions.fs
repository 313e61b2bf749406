\ Counts the partitions of 58, the ways to write it as a sum of whole
\ numbers without regard to order, by the doubly recursive count of the
\ partitions of n into parts no larger than k: those without a part k,
\ plus those with one more.
: parts ( n k -- count )
  over 0= if  2drop 1 exit  then
  over 0< over 0= or if  2drop 0 exit  then
  2dup 1- recurse  -rot swap over - swap recurse + ;
58 58 parts . cr
