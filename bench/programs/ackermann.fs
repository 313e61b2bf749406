\ Ackermann's function, doubly recursive, on the stack alone: a table of
\ A(3, n) for n from 0 to 5, then the sum of A(2, n) for n below 220.
: ack ( m n -- a )
  over 0= if  nip 1+  else
  dup 0= if  drop 1- 1 recurse  else
  over 1- -rot 1- recurse recurse  then then ;
: ack-table  6 0 do  3 i ack .  loop cr ;
: ack-sum ( -- n )  0  220 0 do  2 i ack +  loop ;
ack-table  ack-sum . cr
