\ Square roots by Newton's method, in floating point: for each k from 1 to
\ 800000, x := (k/x + x) / 2 from x = k until a step moves x by less than
\ 1e-9. Prints the mean of the roots in thousandths, rounded.
fvariable target  fvariable x  fvariable delta  fvariable sum
: step ( -- r )  target f@ x f@ f/ x f@ f+ 2e0 f/ ;
: sqrt-newton ( n -- r )
  s>f fdup target f! x f!
  begin  step fdup x f@ f- fabs delta f! x f!  delta f@ 1e-9 f< until
  x f@ ;
: run  0e0 sum f!  800001 1 do  i sqrt-newton sum f@ f+ sum f!  loop ;
run  sum f@ 800000e0 f/ 1000e0 f* 0.5e0 f+ f>s . cr
