\ A million passes that each define a word anew from text and then call it
\ by name. Forth compiles every definition into the dictionary, so a pass
\ that used ": w ... ;" would fill it (pforth runs out of header space) or
\ slow down with each new w (gforth); instead each pass compiles a nameless
\ definition, installs it under the deferred name w, calls w and gives the
\ space back, which keeps the dictionary as it was, as replacing a word does.
variable n
defer w
: run  1000000 0 do  here  s" :noname n @ 1+ ; is w  w n !" evaluate  here - allot  loop ;
0 n !  run  n @ . cr
