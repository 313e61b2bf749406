\ Toy RSA with n = 179 * 239 and four pairs of exponents (e, d): encrypts
\ and decrypts every message 0 to n-1 by modular exponentiation, square and
\ multiply. Prints how many came back unchanged and a checksum of the
\ ciphertexts.
42781 constant n
variable r
: modpow ( b e -- b^e mod n )
  1 r !
  begin  2 /mod swap if  over r @ * n mod r !  then  swap dup * n mod swap  dup 0= until
  2drop r @ ;
variable same  variable check
: round-trips ( e d -- )
  n 0 do
    i 2 pick modpow  dup check @ + 999983 mod check !
    over modpow i = if  1 same +!  then
  loop 2drop ;
0 same !  0 check !
3 28243 round-trips
1009 39341 round-trips
23173 21565 round-trips
30011 34003 round-trips
same @ . check @ . cr
