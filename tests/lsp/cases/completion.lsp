# Completion: variables after a variable sigil, words after ', and else
# the document's words and every built-in with its effect.
--> {"jsonrpc":"2.0","id":1,"method":"initialize","params":{}}
<-- {"id":1}
--> {"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///c/a.tv","languageId":"tolva","version":1,"text":"5 =total 1 +tally\n$t\n'sq\n:sq dup * ;\nsw"}}}
<-- {"method":"textDocument/publishDiagnostics"}
<-- {"method":"textDocument/publishDiagnostics"}
--> {"jsonrpc":"2.0","id":2,"method":"textDocument/completion","params":{"textDocument":{"uri":"file:///c/a.tv"},"position":{"line":1,"character":2}}}
<-- {"id":2,"result":[{"label":"$total","kind":6},{"label":"$tally","kind":6}]}
--> {"jsonrpc":"2.0","id":3,"method":"textDocument/completion","params":{"textDocument":{"uri":"file:///c/a.tv"},"position":{"line":2,"character":3}}}
<-- {"id":3,"result":[{"label":"'sq","detail":"( a -- b ) dup *"},{"label":"'("},"..."]}
--> {"jsonrpc":"2.0","id":4,"method":"textDocument/completion","params":{"textDocument":{"uri":"file:///c/a.tv"},"position":{"line":4,"character":2}}}
<-- {"id":4,"result":[{"label":"sq","kind":3},{"label":"("},{"label":")"},{"label":"*","detail":"( x y -- x*y )"},"..."]}
