\ Output: prints the numbers 0 to 999999 with ., ten to a line.
: run  1000000 0 do  i .  i 10 mod 9 = if cr then  loop ;
run
