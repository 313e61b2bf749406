# Included files are followed, relative to the including document, for
# what they define, and run; a file that can't be read leaves every name
# possible, and running it fails there.
--> {"jsonrpc":"2.0","id":1,"method":"initialize","params":{}}
<-- {"id":1}
--> {"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"{here}/main.tv","languageId":"tolva","version":1,"text":"( lib/shapes.tv ) included\n3 square $unit + . cr\n"}}}
<-- {"params":{"uri":"{here}/main.tv","diagnostics":[]}}
--> {"jsonrpc":"2.0","id":2,"method":"textDocument/definition","params":{"textDocument":{"uri":"{here}/main.tv"},"position":{"line":1,"character":4}}}
<-- {"id":2,"result":[{"uri":"{here}/lib/shapes.tv","range":{"start":{"line":3,"character":0},"end":{"line":3,"character":15}}}]}
--> {"jsonrpc":"2.0","id":3,"method":"textDocument/hover","params":{"textDocument":{"uri":"{here}/main.tv"},"position":{"line":1,"character":4}}}
<-- {"id":3,"result":{"contents":{"value":"```tolva\n:square dup * ;\n```\n`( a -- b )`\n\nMultiplies a length by itself.\n"}}}
# references and rename reach into the included file
--> {"jsonrpc":"2.0","id":5,"method":"textDocument/references","params":{"textDocument":{"uri":"{here}/main.tv"},"position":{"line":1,"character":4},"context":{"includeDeclaration":true}}}
<-- {"id":5,"result":[{"uri":"{here}/main.tv","range":{"start":{"line":1,"character":2}}},{"uri":"{here}/lib/shapes.tv","range":{"start":{"line":3,"character":0}}}]}
--> {"jsonrpc":"2.0","id":6,"method":"textDocument/rename","params":{"textDocument":{"uri":"{here}/main.tv"},"position":{"line":1,"character":4},"newName":"sq"}}
<-- {"id":6,"result":{"changes":{"{here}/main.tv":[{"newText":"sq"}],"{here}/lib/shapes.tv":[{"range":{"start":{"line":3,"character":1},"end":{"line":3,"character":7}},"newText":"sq"}]}}}
# workspace symbols: the open document's and its includes', by part of a name
--> {"jsonrpc":"2.0","id":4,"method":"workspace/symbol","params":{"query":"SQU"}}
<-- {"id":4,"result":[{"name":"square","kind":12,"location":{"uri":"{here}/lib/shapes.tv","range":{"start":{"line":3,"character":0}}}}]}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"{here}/main.tv","version":2},"contentChanges":[{"text":"( lib/missing.tv ) included\n3 square . cr\n"}]}}
<-- {"params":{"diagnostics":[]}}
<-- {"params":{"diagnostics":[{"range":{"start":{"line":0,"character":19},"end":{"line":0,"character":27}},"severity":1,"message":"Runtime error: can't open file"}]}}
