\ McCarthy's 91 function, nested recursion: M(n) = n - 10 above 100, else
\ M(M(n + 11)). The sum of M(n) for n from 0 to 100, 1200 times over.
: m91 ( n -- m )  dup 100 > if  10 -  else  11 + recurse recurse  then ;
: m91-sum ( -- n )  0  1200 0 do  101 0 do  i m91 +  loop loop ;
m91-sum . cr
