# Incremental sync: each change replaces a range, in lines and UTF-16 code
# units, of the text the change before it left, or the whole text. What the
# server holds shows in the definitions it lists, each with its range.
--> {"jsonrpc":"2.0","id":1,"method":"initialize","params":{}}
<-- {"id":1,"result":{"capabilities":{"textDocumentSync":{"openClose":true,"change":2}}}}
--> {"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///s/a.tv","languageId":"tolva","version":1,"text":":one 1 ;\n/* für 😀 */ :two 2 ;\n:three 3 ;\n"}}}
<-- {"params":{"uri":"file:///s/a.tv","version":1,"diagnostics":[]}}
--> {"jsonrpc":"2.0","id":2,"method":"textDocument/documentSymbol","params":{"textDocument":{"uri":"file:///s/a.tv"}}}
<-- {"id":2,"result":[{"name":"one","range":{"start":{"line":0,"character":0},"end":{"line":0,"character":8}}},{"name":"two","range":{"start":{"line":1,"character":13},"end":{"line":1,"character":21}}},{"name":"three","range":{"start":{"line":2,"character":0},"end":{"line":2,"character":10}}}]}
# An insertion.
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///s/a.tv","version":2},"contentChanges":[{"range":{"start":{"line":0,"character":4},"end":{"line":0,"character":4}},"text":"r"}]}}
<-- {"params":{"uri":"file:///s/a.tv","version":2,"diagnostics":[]}}
--> {"jsonrpc":"2.0","id":3,"method":"textDocument/documentSymbol","params":{"textDocument":{"uri":"file:///s/a.tv"}}}
<-- {"id":3,"result":[{"name":"oner","range":{"start":{"line":0,"character":0},"end":{"line":0,"character":9}}},{"name":"two","range":{"start":{"line":1,"character":13},"end":{"line":1,"character":21}}},{"name":"three","range":{"start":{"line":2,"character":0},"end":{"line":2,"character":10}}}]}
# After ü (one unit, two bytes) and an emoji (two units, four bytes): `two`
# starts at unit 14 of its line, byte 17.
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///s/a.tv","version":3},"contentChanges":[{"range":{"start":{"line":1,"character":14},"end":{"line":1,"character":17}},"rangeLength":3,"text":"zwei"}]}}
<-- {"params":{"uri":"file:///s/a.tv","version":3,"diagnostics":[]}}
--> {"jsonrpc":"2.0","id":4,"method":"textDocument/documentSymbol","params":{"textDocument":{"uri":"file:///s/a.tv"}}}
<-- {"id":4,"result":[{"name":"oner","range":{"start":{"line":0,"character":0},"end":{"line":0,"character":9}}},{"name":"zwei","range":{"start":{"line":1,"character":13},"end":{"line":1,"character":22}}},{"name":"three","range":{"start":{"line":2,"character":0},"end":{"line":2,"character":10}}}]}
# A whole text, then a change of it.
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///s/a.tv","version":7},"contentChanges":[{"text":":seven 7 ;\n"}]}}
<-- {"params":{"uri":"file:///s/a.tv","version":7,"diagnostics":[]}}
--> {"jsonrpc":"2.0","id":8,"method":"textDocument/documentSymbol","params":{"textDocument":{"uri":"file:///s/a.tv"}}}
<-- {"id":8,"result":[{"name":"seven","range":{"start":{"line":0,"character":0},"end":{"line":0,"character":10}}}]}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///s/a.tv","version":8},"contentChanges":[{"text":":a 1 ;\n"},{"range":{"start":{"line":0,"character":2},"end":{"line":0,"character":2}},"text":"b"}]}}
<-- {"params":{"uri":"file:///s/a.tv","version":8,"diagnostics":[]}}
--> {"jsonrpc":"2.0","id":9,"method":"textDocument/documentSymbol","params":{"textDocument":{"uri":"file:///s/a.tv"}}}
<-- {"id":9,"result":[{"name":"ab","range":{"start":{"line":0,"character":0},"end":{"line":0,"character":7}}}]}
# Lines that end in \r\n: the end of the first is before its \r.
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///s/a.tv","version":9},"contentChanges":[{"text":":one 1 ;\r\n:two 2 ;\r\n"}]}}
<-- {"params":{"uri":"file:///s/a.tv","version":9,"diagnostics":[]}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///s/a.tv","version":10},"contentChanges":[{"range":{"start":{"line":0,"character":50},"end":{"line":0,"character":50}},"text":" :x 0 ;"},{"range":{"start":{"line":1,"character":1},"end":{"line":1,"character":4}},"text":"zwei"}]}}
<-- {"params":{"uri":"file:///s/a.tv","version":10,"diagnostics":[]}}
--> {"jsonrpc":"2.0","id":10,"method":"textDocument/documentSymbol","params":{"textDocument":{"uri":"file:///s/a.tv"}}}
<-- {"id":10,"result":[{"name":"one","range":{"start":{"line":0,"character":0},"end":{"line":0,"character":8}}},{"name":"x","range":{"start":{"line":0,"character":9},"end":{"line":0,"character":15}}},{"name":"zwei","range":{"start":{"line":1,"character":0},"end":{"line":1,"character":9}}}]}
# Changes that cannot be applied are ignored, the text as it was: a range
# that ends before it starts, a position that is not two whole numbers, a
# change without its text. So the next message is the answer.
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///s/a.tv","version":11},"contentChanges":[{"range":{"start":{"line":1,"character":4},"end":{"line":1,"character":2}},"text":"x"}]}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///s/a.tv","version":12},"contentChanges":[{"range":{"start":{"line":0,"character":1},"end":{"line":-1,"character":0}},"text":"x"}]}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///s/a.tv","version":13},"contentChanges":[{"range":{"start":{"line":0,"character":1}},"text":"x"}]}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///s/a.tv","version":14},"contentChanges":[{"range":{"start":{"line":0,"character":1},"end":{"line":0,"character":1}},"text":"x"},{"range":{"start":{"line":0,"character":1},"end":{"line":0,"character":1}}}]}}
--> {"jsonrpc":"2.0","id":11,"method":"textDocument/documentSymbol","params":{"textDocument":{"uri":"file:///s/a.tv"}}}
<-- {"id":11,"result":[{"name":"one","range":{"start":{"line":0,"character":0},"end":{"line":0,"character":8}}},{"name":"x","range":{"start":{"line":0,"character":9},"end":{"line":0,"character":15}}},{"name":"zwei","range":{"start":{"line":1,"character":0},"end":{"line":1,"character":9}}}]}
--> {"jsonrpc":"2.0","id":99,"method":"shutdown"}
<-- {"id":99,"result":null}
