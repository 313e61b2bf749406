\ Forty million calls of small words: one outer, three inner per pass.
: inc  1+ ;
: inc3  inc inc inc ;
: run  0  10000000 0 do  inc3  loop ;
run . cr
