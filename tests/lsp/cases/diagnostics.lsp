# What is wrong before anything runs, each on the token it concerns.
--> {"jsonrpc":"2.0","id":1,"method":"initialize","params":{}}
<-- {"id":1}
--> {"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///d/a.tv","languageId":"tolva","version":1,"text":"$count . nosuch 1e400\n[ 1 [ 2 ] ] : sq dup * ;\n:a 1 :b 2 ;\n{ ( Fizz ) .. } execute \\ Fizz is text\n{ 1"}}}
<-- {"params":{"uri":"file:///d/a.tv","diagnostics":[{"range":{"start":{"line":0,"character":0},"end":{"line":0,"character":6}},"severity":2,"message":"nothing in this file or the files it includes stores the variable `count`: reading it fails with `Out of range: _Map_base::at`; store it first, as in `0 =count`"},{"range":{"start":{"line":0,"character":9}},"message":"`nosuch` is neither built in nor defined in this file or the files it includes: running it fails with `Domain error: unknown word`"},{"range":{"start":{"line":0,"character":16}},"message":"`1e400` is a number out of range: running it fails with `Out of range: stod`"},{"range":{"start":{"line":1,"character":4}},"message":"[ collected inside an open [; the next ] ends the outer one"},{"range":{"start":{"line":1,"character":10}},"message":"] closes nothing: no construct is open"},{"range":{"start":{"line":1,"character":12}},"message":": followed by a blank defines the word with the empty name; write the name right after the colon, as in :sq"},{"range":{"start":{"line":1,"character":14}},"severity":2},{"range":{"start":{"line":2,"character":5}},"message":":b is collected into the definition :a, still open: is a ; missing before it?"},{"range":{"start":{"line":4,"character":0}},"severity":1,"message":"this block is never closed: everything after it is collected"}]}}
# Running it, tolva's own report comes first, and what reading said of that token explains it.
<-- {"params":{"diagnostics":[{"range":{"start":{"line":0,"character":0},"end":{"line":0,"character":6}},"severity":1,"message":"Out of range: _Map_base::at\nnothing in this file or the files it includes stores the variable `count`: reading it fails with `Out of range: _Map_base::at`; store it first, as in `0 =count`"},"..."]}}
# Fixed, the same document says nothing; a closer alone is now the one fault.
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///d/a.tv","version":2},"contentChanges":[{"text":"0 =count $count . [ 1 ] execute ]\n"}]}}
<-- {"params":{"version":2,"diagnostics":[{"range":{"start":{"line":0,"character":32}},"message":"] closes nothing: no construct is open"}]}}
# ... unless a word leaves a construct open for it to close.
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///d/a.tv","version":3},"contentChanges":[{"text":":begin [ ;\nbegin 1 2 ] execute\n"}]}}
<-- {"params":{"diagnostics":[]}}
# A comment or a string inside a definition holds no words.
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///d/a.tv","version":4},"contentChanges":[{"text":":c /* nosuch [ */ ( nosuch2 { ) 1 ; c . cr\n"}]}}
<-- {"params":{"diagnostics":[]}}
# A word that reads its input may define anything: no unknown words then.
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///d/a.tv","version":5},"contentChanges":[{"text":"accept interpret defined-by-input\n"}]}}
<-- {"params":{"diagnostics":[]}}
--> {"jsonrpc":"2.0","method":"textDocument/didClose","params":{"textDocument":{"uri":"file:///d/a.tv"}}}
<-- {"params":{"uri":"file:///d/a.tv","diagnostics":[]}}
