\ Input: reads a count from the first line of standard input, then that
\ many lines of two numbers a and b each. Prints how many lines have a > b
\ and the sum of the products a * b modulo 999983.
\ ACCEPT echoes the line when the input is no terminal, so a line is read
\ with READ-LINE where standard input has a name (gforth's stdin) and
\ character by character with KEY where it has none (pforth).
create line 80 chars allot
[undefined] stdin [if]
: get-line ( -- addr u )  line begin  key dup 10 <> while  over c! char+  repeat drop  line -  line swap ;
[else]
: get-line ( -- addr u )  line 80 stdin read-line throw drop  line swap ;
[then]
: next-number ( addr u -- addr' u' n )  0 0 2swap >number  2swap drop >r  1 /string  r> ;
variable above  variable check
: run  0 above !  0 check !
  get-line next-number nip nip  0 ?do
    get-line next-number -rot next-number nip nip
    2dup > if  1 above +!  then
    * check @ + 999983 mod check !
  loop ;
run  above @ . check @ . cr
