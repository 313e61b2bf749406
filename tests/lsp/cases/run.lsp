# The document is run, confined: the first error on the token that failed
# inside the word, with the calls that led there; an endless loop stops at
# the budget, said once at the top; bye ends the run, not the server; and a
# run that read input says nothing, since the input was not there.
--> {"jsonrpc":"2.0","id":1,"method":"initialize","params":{}}
<-- {"id":1}
--> {"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///r/a.tv","languageId":"tolva","version":1,"text":":half 2 / ;\n:avg + half ;\n1 avg . cr\n"}}}
<-- {"params":{"diagnostics":[]}}
<-- {"params":{"diagnostics":[{"range":{"start":{"line":1,"character":5},"end":{"line":1,"character":6}},"severity":1,"message":"Out of range: stack underflow\n+ takes 2 values from the stack, which held fewer: it took what there was","relatedInformation":[{"location":{"uri":"file:///r/a.tv","range":{"start":{"line":2,"character":2},"end":{"line":2,"character":5}}},"message":"called from here"}]}]}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///r/a.tv","version":2},"contentChanges":[{"text":"{ 1 } while { 1 } repeat\n"}]}}
<-- {"params":{"diagnostics":[]}}
<-- {"params":{"diagnostics":[{"range":{"start":{"line":0,"character":0},"end":{"line":0,"character":0}},"severity":3}]}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///r/a.tv","version":3},"contentChanges":[{"text":"1 . bye\nnosuch\n"}]}}
<-- {"params":{"diagnostics":[{"message":"`nosuch` is neither built in nor defined in this file or the files it includes: running it fails with `Domain error: unknown word`"}]}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///r/a.tv","version":4},"contentChanges":[{"text":"accept number 2 * . cr\n"}]}}
<-- {"params":{"diagnostics":[]}}
--> {"jsonrpc":"2.0","id":2,"method":"shutdown"}
<-- {"id":2,"result":null}
