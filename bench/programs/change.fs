\ Counts the ways to make change for 400 cents from coins of 1, 5, 10, 25
\ and 50 cents, by the doubly recursive count: the ways that leave the
\ largest kind of coin out, plus those that use it once more.
: coin ( k -- v )
  dup 1 = if drop 1 exit then  dup 2 = if drop 5 exit then
  dup 3 = if drop 10 exit then  4 = if 25 else 50 then ;
: cc ( amount kinds -- ways )
  over 0= if  2drop 1 exit  then
  over 0< over 0= or if  2drop 0 exit  then
  2dup 1- recurse  -rot  dup coin rot swap - swap recurse + ;
400 5 cc . cr
