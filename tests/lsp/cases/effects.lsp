# Stack effects found from the bodies: recursion to a fixed point, lists run
# by control words, loops; unknown where branches differ. The hint follows
# each :name; an underflow certain before anything runs is said at once.
--> {"jsonrpc":"2.0","id":1,"method":"initialize","params":{}}
<-- {"id":1,"result":{"capabilities":{"inlayHintProvider":true}}}
--> {"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///e/a.tv","languageId":"tolva","version":1,"text":":sq dup * ;\n:fact dup 1 > { dup 1- fact * } iftrue ;\n:odd { 2 } iftrue ;\n:count 0 { 1+ } while { dup 10 < } repeat ;\n:pair [ 1 2 ] execute ;\n7 1 { 1+ } iftrue drop 5 pair + + +\n"}}}
<-- {"params":{"diagnostics":[{"range":{"start":{"line":5,"character":34},"end":{"line":5,"character":35}},"severity":1,"message":"`+` takes 2 values and the stack holds 1 here: running it fails with a stack underflow"}]}}
<-- {"params":{"diagnostics":[{"range":{"start":{"line":5,"character":34}},"message":"Out of range: stack underflow\n`+` takes 2 values and the stack holds 1 here: running it fails with a stack underflow"}]}}
--> {"jsonrpc":"2.0","id":2,"method":"textDocument/inlayHint","params":{"textDocument":{"uri":"file:///e/a.tv"},"range":{"start":{"line":0,"character":0},"end":{"line":6,"character":0}}}}
<-- {"id":2,"result":[{"position":{"line":0,"character":3},"label":"( a -- b )"},{"position":{"line":1,"character":5},"label":"( a -- b )"},{"label":"( ? )"},{"label":"( -- a )"},{"label":"( -- a b )"}]}
