\ Counts the points (x, y) of the integer grid with 0 <= x, y < 4250 that lie
\ inside the circle x^2 + y^2 < 4250^2, in two nested counted loops, and
\ prints the count digit by digit, being more than six digits long.
: sq ( n -- n*n )  dup * ;
: digits ( n -- )  10 /mod ?dup if recurse then [char] 0 + emit ;
4250 sq constant r2
: run ( -- n )  0  4250 0 do  4250 0 do  i sq j sq + r2 < if 1+ then  loop loop ;
run digits space cr
