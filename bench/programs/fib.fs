\ Doubly recursive Fibonacci: 2.7 million calls of a word.
: fib  dup 2 < 0= if  dup 1- recurse  swap 2 - recurse  +  then ;
30 fib . cr
