\ Rolls two dice 3600000 times with a linear congruential generator built
\ from a chain of small words, and counts the sevens.
variable seed  variable sevens
: seed@ ( -- x )  seed @ ;
: seed! ( x -- )  seed ! ;
: scale ( x -- x' )  75 * ;
: shift ( x -- x' )  74 + ;
: wrap ( x -- x' )  65537 mod ;
: step-seed ( x -- x' )  scale shift wrap ;
: random ( -- x )  seed@ step-seed dup seed! ;
: face ( x -- 0..5 )  6 mod ;
: die ( -- 1..6 )  random face 1+ ;
: two-dice ( -- 2..12 )  die die + ;
: seven? ( n -- flag )  7 = ;
: tally ( n -- )  seven? if 1 sevens +! then ;
: throw-dice ( -- )  two-dice tally ;
: rolls ( n -- )  0 ?do throw-dice loop ;
12345 seed!  0 sevens !
3600000 rolls  sevens @ . cr
