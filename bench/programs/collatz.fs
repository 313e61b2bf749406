\ The longest Collatz walk from a start below 100000: from n a walk goes to
\ n/2 when n is even and to 3n+1 when it is odd, until it reaches 1.
: step ( n -- n' )  dup 2 mod if  3 * 1+  else  2/  then ;
: walk ( n -- steps )  0 swap begin  step swap 1+ swap  dup 1 = until drop ;
variable best  variable longest
: longest-walk  0 best !  0 longest !
  100000 1 do  i walk dup longest @ > if  longest !  i best !  else drop then  loop ;
longest-walk best @ . longest @ . cr
