\ A word that calls itself 10,000 levels deep before it returns; prints the
\ value left behind and then the depth of the stack, which should be 0 0.
: down  1- dup if  recurse  then ;
10000 down . depth . cr
