# Every field of every message is checked before it is used: a request that
# is not as the protocol says is answered with an error (-32602, invalid
# params; -32600 for a message that is no request), a notification that is
# not is logged on standard error and ignored, and the server goes on.
--> {"jsonrpc":"2.0","id":1,"method":"initialize","params":{}}
<-- {"id":1}
# Notifications: none of these opens or changes x.tv, and none is answered.
# An empty list of changes once crashed the server.
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///v/x.tv"},"contentChanges":[]}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///v/x.tv"},"contentChanges":{}}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///v/x.tv"},"contentChanges":[7]}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///v/x.tv"},"contentChanges":[{"text":5}]}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///v/x.tv"},"contentChanges":[{}]}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///v/x.tv"},"contentChanges":[{"range":{"start":{"line":0,"character":0},"end":{"line":0,"character":0}},"text":"1"}]}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///v/x.tv","version":"two"},"contentChanges":[{"text":"1"}]}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":5},"contentChanges":[{"text":"1"}]}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":"file:///v/x.tv","contentChanges":[{"text":"1"}]}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"contentChanges":[{"text":"1"}]}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":[{"text":"1"}]}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":"1"}
--> {"jsonrpc":"2.0","method":"textDocument/didChange"}
--> {"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///v/x.tv","version":1,"text":["1"]}}}
--> {"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///v/x.tv","version":1}}}
--> {"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":null}}
--> {"jsonrpc":"2.0","method":"textDocument/didClose","params":{"textDocument":{}}}
--> {"jsonrpc":"2.0","method":"textDocument/didClose","params":{"textDocument":{"uri":null}}}
--> {"jsonrpc":"2.0","method":"$/cancelRequest","params":{"id":[1]}}
--> {"jsonrpc":"2.0","method":"$/cancelRequest"}
--> {"jsonrpc":"2.0","method":"no/such/notification","params":7}
# so the next message is the answer to this, and no diagnostics
--> {"jsonrpc":"2.0","id":2,"method":"textDocument/documentSymbol","params":{"textDocument":{"uri":"file:///v/x.tv"}}}
<-- {"id":2,"result":[]}
--> {"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///v/a.tv","languageId":"tolva","version":1,"text":":sq dup * ;\n3 sq . cr\n"}}}
<-- {"params":{"uri":"file:///v/a.tv","version":1,"diagnostics":[]}}
# Requests: the position missing, or its numbers not whole numbers from 0
--> {"jsonrpc":"2.0","id":3,"method":"textDocument/hover","params":{"textDocument":{"uri":"file:///v/a.tv"}}}
<-- {"id":3,"error":{"code":-32602,"message":"params has no position"}}
--> {"jsonrpc":"2.0","id":4,"method":"textDocument/hover","params":{"textDocument":{"uri":"file:///v/a.tv"},"position":{"line":"1","character":2}}}
<-- {"id":4,"error":{"code":-32602,"message":"params.position.line is not a whole number from 0 to 2147483647"}}
--> {"jsonrpc":"2.0","id":5,"method":"textDocument/hover","params":{"textDocument":{"uri":"file:///v/a.tv"},"position":{"line":1.5,"character":2}}}
<-- {"id":5,"error":{"code":-32602}}
--> {"jsonrpc":"2.0","id":6,"method":"textDocument/hover","params":{"textDocument":{"uri":"file:///v/a.tv"},"position":{"line":-1,"character":2}}}
<-- {"id":6,"error":{"code":-32602}}
--> {"jsonrpc":"2.0","id":7,"method":"textDocument/hover","params":{"textDocument":{"uri":"file:///v/a.tv"},"position":{"line":1,"character":4294967298}}}
<-- {"id":7,"error":{"code":-32602}}
--> {"jsonrpc":"2.0","id":8,"method":"textDocument/hover","params":{"textDocument":{"uri":"file:///v/a.tv"},"position":{"line":1}}}
<-- {"id":8,"error":{"code":-32602,"message":"params.position has no character"}}
--> {"jsonrpc":"2.0","id":9,"method":"textDocument/hover","params":{"textDocument":{"uri":"file:///v/a.tv"},"position":null}}
<-- {"id":9,"error":{"code":-32602,"message":"params.position is not an object"}}
# the document missing, or not an object with a string uri
--> {"jsonrpc":"2.0","id":10,"method":"textDocument/hover","params":{"textDocument":{"uri":null},"position":{"line":1,"character":2}}}
<-- {"id":10,"error":{"code":-32602,"message":"params.textDocument.uri is not a string"}}
--> {"jsonrpc":"2.0","id":11,"method":"textDocument/definition","params":{"textDocument":[],"position":{"line":1,"character":2}}}
<-- {"id":11,"error":{"code":-32602,"message":"params.textDocument is not an object"}}
--> {"jsonrpc":"2.0","id":12,"method":"textDocument/references","params":{"position":{"line":1,"character":2}}}
<-- {"id":12,"error":{"code":-32602,"message":"params has no textDocument"}}
--> {"jsonrpc":"2.0","id":13,"method":"textDocument/completion","params":{"textDocument":{"uri":"file:///never/opened.tv"}}}
<-- {"id":13,"error":{"code":-32602}}
--> {"jsonrpc":"2.0","id":14,"method":"textDocument/documentSymbol","params":{}}
<-- {"id":14,"error":{"code":-32602}}
--> {"jsonrpc":"2.0","id":15,"method":"textDocument/semanticTokens/full","params":{"textDocument":"file:///v/a.tv"}}
<-- {"id":15,"error":{"code":-32602}}
--> {"jsonrpc":"2.0","id":16,"method":"textDocument/inlayHint","params":{}}
<-- {"id":16,"error":{"code":-32602}}
# params that are not structured, or not an object
--> {"jsonrpc":"2.0","id":17,"method":"textDocument/hover","params":"file:///v/a.tv"}
<-- {"id":17,"error":{"code":-32602,"message":"params is neither an object nor an array"}}
--> {"jsonrpc":"2.0","id":18,"method":"textDocument/hover","params":[{"uri":"file:///v/a.tv"},{"line":1,"character":2}]}
<-- {"id":18,"error":{"code":-32602,"message":"params is not an object"}}
# a field of its own method
--> {"jsonrpc":"2.0","id":19,"method":"textDocument/rename","params":{"textDocument":{"uri":"file:///v/a.tv"},"position":{"line":1,"character":2}}}
<-- {"id":19,"error":{"code":-32602,"message":"params has no newName"}}
--> {"jsonrpc":"2.0","id":20,"method":"textDocument/rename","params":{"textDocument":{"uri":"file:///v/a.tv"},"position":{"line":1,"character":2},"newName":["sq2"]}}
<-- {"id":20,"error":{"code":-32602,"message":"params.newName is not a string"}}
--> {"jsonrpc":"2.0","id":21,"method":"workspace/symbol","params":{"query":5}}
<-- {"id":21,"error":{"code":-32602,"message":"params.query is not a string"}}
# An id is a number or a string, a method a string; a message is an object.
--> {"jsonrpc":"2.0","id":{"n":22},"method":"shutdown"}
<-- {"id":null,"error":{"code":-32600}}
--> {"jsonrpc":"2.0","id":1.5,"method":"shutdown"}
<-- {"id":null,"error":{"code":-32600}}
--> {"jsonrpc":"2.0","id":23,"method":["shutdown"]}
<-- {"id":23,"error":{"code":-32600}}
--> {"jsonrpc":"2.0","id":24}
<-- {"id":24,"error":{"code":-32600}}
--> "shutdown"
<-- {"id":null,"error":{"code":-32600}}
# A reply to a request of the server's (it sends none) is dropped.
--> {"jsonrpc":"2.0","id":99,"result":null}
# None of that changed what the server knows.
--> {"jsonrpc":"2.0","id":25,"method":"textDocument/hover","params":{"textDocument":{"uri":"file:///v/a.tv"},"position":{"line":1,"character":3}}}
<-- {"id":25,"result":{"contents":{"value":"```tolva\n:sq dup * ;\n```\n`( a -- b )`\n\n"}}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"file:///v/a.tv","version":2},"contentChanges":[{"text":"nosuch\n"},{"range":null,"text":"1 2 + . cr\n"}]}}
<-- {"params":{"uri":"file:///v/a.tv","version":2,"diagnostics":[]}}
--> {"jsonrpc":"2.0","id":26,"method":"shutdown"}
<-- {"id":26,"result":null}
--> {"jsonrpc":"2.0","method":"exit"}
<-- exit 0
