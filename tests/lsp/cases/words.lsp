# A document with a word, a variable and a comment: what the editor asks.
--> {"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}}
<-- {"id":1,"result":{"capabilities":{"hoverProvider":true,"definitionProvider":true,"renameProvider":{"prepareProvider":true}},"serverInfo":{"name":"tolva-lsp"}}}
--> {"jsonrpc":"2.0","method":"initialized","params":{}}
--> {"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///w/sq.tv","languageId":"tolva","version":1,"text":"\\ Squares a number.\n:sq dup * ;\n3 sq =n\n$n . cr\n"}}}
<-- {"method":"textDocument/publishDiagnostics","params":{"uri":"file:///w/sq.tv","diagnostics":[]}}
# hover on a user word shows its definition and the comment above it
--> {"jsonrpc":"2.0","id":2,"method":"textDocument/hover","params":{"textDocument":{"uri":"file:///w/sq.tv"},"position":{"line":2,"character":3}}}
<-- {"id":2,"result":{"contents":{"kind":"markdown","value":"```tolva\n:sq dup * ;\n```\n`( a -- b )`\n\nSquares a number.\n"},"range":{"start":{"line":2,"character":2},"end":{"line":2,"character":4}}}}
# hover on a built-in: the reference's words, beginning with the effect
--> {"jsonrpc":"2.0","id":3,"method":"textDocument/hover","params":{"textDocument":{"uri":"file:///w/sq.tv"},"position":{"line":1,"character":4}}}
<-- {"id":3,"result":{"contents":{"value":"```tolva\ndup\n```\n`( x -- x x )` Pushes a copy of the top value. Errors: `Out of range: Stack underflow in dup`."}}}
# a number, and a variable: where it is stored
--> {"jsonrpc":"2.0","id":4,"method":"textDocument/hover","params":{"textDocument":{"uri":"file:///w/sq.tv"},"position":{"line":2,"character":0}}}
<-- {"id":4,"result":{"contents":{"value":"The number 3."}}}
--> {"jsonrpc":"2.0","id":5,"method":"textDocument/definition","params":{"textDocument":{"uri":"file:///w/sq.tv"},"position":{"line":3,"character":1}}}
<-- {"id":5,"result":[{"uri":"file:///w/sq.tv","range":{"start":{"line":2,"character":5},"end":{"line":2,"character":7}}}]}
--> {"jsonrpc":"2.0","id":6,"method":"textDocument/definition","params":{"textDocument":{"uri":"file:///w/sq.tv"},"position":{"line":2,"character":2}}}
<-- {"id":6,"result":[{"uri":"file:///w/sq.tv","range":{"start":{"line":1,"character":0},"end":{"line":1,"character":11}}}]}
--> {"jsonrpc":"2.0","id":7,"method":"textDocument/references","params":{"textDocument":{"uri":"file:///w/sq.tv"},"position":{"line":1,"character":1},"context":{"includeDeclaration":true}}}
<-- {"id":7,"result":[{"range":{"start":{"line":1,"character":0}}},{"range":{"start":{"line":2,"character":2}}}]}
# rename changes the name, not the sigil, and refuses what would not read back
--> {"jsonrpc":"2.0","id":8,"method":"textDocument/rename","params":{"textDocument":{"uri":"file:///w/sq.tv"},"position":{"line":2,"character":2},"newName":"square"}}
<-- {"id":8,"result":{"changes":{"file:///w/sq.tv":[{"range":{"start":{"line":1,"character":1},"end":{"line":1,"character":3}},"newText":"square"},{"range":{"start":{"line":2,"character":2},"end":{"line":2,"character":4}},"newText":"square"}]}}}
--> {"jsonrpc":"2.0","id":9,"method":"textDocument/rename","params":{"textDocument":{"uri":"file:///w/sq.tv"},"position":{"line":2,"character":2},"newName":"dup"}}
<-- {"id":9,"error":{"code":-32803}}
--> {"jsonrpc":"2.0","id":10,"method":"textDocument/rename","params":{"textDocument":{"uri":"file:///w/sq.tv"},"position":{"line":2,"character":2},"newName":"$q"}}
<-- {"id":10,"error":{"code":-32803}}
--> {"jsonrpc":"2.0","id":11,"method":"textDocument/rename","params":{"textDocument":{"uri":"file:///w/sq.tv"},"position":{"line":3,"character":1},"newName":"count"}}
<-- {"id":11,"result":{"changes":{"file:///w/sq.tv":[{"range":{"start":{"line":2,"character":6},"end":{"line":2,"character":7}},"newText":"count"},{"range":{"start":{"line":3,"character":1},"end":{"line":3,"character":2}},"newText":"count"}]}}}
--> {"jsonrpc":"2.0","id":12,"method":"textDocument/documentSymbol","params":{"textDocument":{"uri":"file:///w/sq.tv"}}}
<-- {"id":12,"result":[{"name":"sq","kind":12},{"name":"n","kind":13}]}
# colours by the real rules: a comment, the opener, built-ins, closer,
# number, the user word, variables
--> {"jsonrpc":"2.0","id":14,"method":"textDocument/semanticTokens/full","params":{"textDocument":{"uri":"file:///w/sq.tv"}}}
<-- {"id":14,"result":{"data":[0,0,19,5,0, 1,0,3,2,0, 0,4,3,0,1, 0,4,1,0,1, 0,2,1,2,0, 1,0,1,3,0, 0,2,2,0,0, 0,3,2,1,0, 1,0,2,1,0, 0,3,1,0,1, 0,2,2,0,1]}}
--> {"jsonrpc":"2.0","id":13,"method":"shutdown"}
<-- {"id":13,"result":null}
--> {"jsonrpc":"2.0","method":"exit"}
<-- exit 0
