# Quick fixes, highlights, folds, prepareRename and the call hierarchy.
--> {"jsonrpc":"2.0","id":1,"method":"initialize","params":{"capabilities":{}}}
<-- {"id":1,"result":{"capabilities":{"codeActionProvider":{"codeActionKinds":["quickfix"]},"documentHighlightProvider":true,"foldingRangeProvider":true,"renameProvider":{"prepareProvider":true},"callHierarchyProvider":true}}}
--> {"jsonrpc":"2.0","method":"initialized","params":{}}
--> {"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///w/act.tv","languageId":"tolva","version":1,"text":"\\ Squares\n\\ a number.\n:sq dup * ;\n:quad\n  sq sq ;\n3 quad . sqq\n"}}}
# Each diagnostic names its kind; the run's report on the token keeps it.
<-- {"params":{"diagnostics":[{"range":{"start":{"line":5,"character":9},"end":{"line":5,"character":12}},"severity":2,"code":"unknown-word"}]}}
<-- {"params":{"diagnostics":[{"range":{"start":{"line":5,"character":9},"end":{"line":5,"character":12}},"severity":1,"code":"unknown-word"}]}}
# The fix names the client's own copy of its diagnostic.
--> {"jsonrpc":"2.0","id":2,"method":"textDocument/codeAction","params":{"textDocument":{"uri":"file:///w/act.tv"},"range":{"start":{"line":5,"character":10},"end":{"line":5,"character":10}},"context":{"diagnostics":[{"range":{"start":{"line":5,"character":9},"end":{"line":5,"character":12}},"message":"Domain error: unknown word - sqq\n`sqq` is neither built in nor defined in this file or the files it includes: running it fails with `Domain error: unknown word`","data":"the client's"}]}}}
<-- {"id":2,"result":[{"title":"did you mean `sq`?","kind":"quickfix","isPreferred":true,"diagnostics":[{"data":"the client's"}],"edit":{"changes":{"file:///w/act.tv":[{"range":{"start":{"line":5,"character":9},"end":{"line":5,"character":12}},"newText":"sq"}]}}}]}
# Asked for other kinds of actions, or for none on a line without a slip.
--> {"jsonrpc":"2.0","id":3,"method":"textDocument/codeAction","params":{"textDocument":{"uri":"file:///w/act.tv"},"range":{"start":{"line":5,"character":10},"end":{"line":5,"character":10}},"context":{"diagnostics":[],"only":["refactor"]}}}
<-- {"id":3,"result":[]}
--> {"jsonrpc":"2.0","id":4,"method":"textDocument/codeAction","params":{"textDocument":{"uri":"file:///w/act.tv"},"range":{"start":{"line":2,"character":0},"end":{"line":2,"character":3}},"context":{"diagnostics":[]}}}
<-- {"id":4,"result":[]}
--> {"jsonrpc":"2.0","id":5,"method":"textDocument/codeAction","params":{"textDocument":{"uri":"file:///w/act.tv"},"range":{"start":{"line":5,"character":10},"end":{"line":5,"character":10}}}}
<-- {"id":5,"error":{"code":-32602}}
# The definition writes, the uses read.
--> {"jsonrpc":"2.0","id":6,"method":"textDocument/documentHighlight","params":{"textDocument":{"uri":"file:///w/act.tv"},"position":{"line":4,"character":3}}}
<-- {"id":6,"result":[{"range":{"start":{"line":2,"character":0},"end":{"line":2,"character":3}},"kind":3},{"range":{"start":{"line":4,"character":2},"end":{"line":4,"character":4}},"kind":2},{"range":{"start":{"line":4,"character":5},"end":{"line":4,"character":7}},"kind":2}]}
--> {"jsonrpc":"2.0","id":7,"method":"textDocument/foldingRange","params":{"textDocument":{"uri":"file:///w/act.tv"}}}
<-- {"id":7,"result":[{"startLine":0,"endLine":1,"kind":"comment"},{"startLine":3,"endLine":4}]}
# The name after the sigil; a built-in cannot be renamed.
--> {"jsonrpc":"2.0","id":8,"method":"textDocument/prepareRename","params":{"textDocument":{"uri":"file:///w/act.tv"},"position":{"line":2,"character":2}}}
<-- {"id":8,"result":{"start":{"line":2,"character":1},"end":{"line":2,"character":3}}}
--> {"jsonrpc":"2.0","id":9,"method":"textDocument/prepareRename","params":{"textDocument":{"uri":"file:///w/act.tv"},"position":{"line":2,"character":5}}}
<-- {"id":9,"result":null}
--> {"jsonrpc":"2.0","id":10,"method":"textDocument/prepareCallHierarchy","params":{"textDocument":{"uri":"file:///w/act.tv"},"position":{"line":4,"character":3}}}
<-- {"id":10,"result":[{"name":"sq","kind":12,"detail":"( a -- b )","uri":"file:///w/act.tv","range":{"start":{"line":2,"character":0},"end":{"line":2,"character":11}},"selectionRange":{"start":{"line":2,"character":0},"end":{"line":2,"character":3}}}]}
--> {"jsonrpc":"2.0","id":11,"method":"callHierarchy/incomingCalls","params":{"item":{"name":"sq","kind":12,"uri":"file:///w/act.tv","range":{"start":{"line":2,"character":0},"end":{"line":2,"character":11}},"selectionRange":{"start":{"line":2,"character":0},"end":{"line":2,"character":3}},"data":{"document":"file:///w/act.tv"}}}}
<-- {"id":11,"result":[{"from":{"name":"quad","kind":12,"range":{"start":{"line":3,"character":0},"end":{"line":4,"character":9}}},"fromRanges":[{"start":{"line":4,"character":2}},{"start":{"line":4,"character":5}}]}]}
# The top level, as a caller.
--> {"jsonrpc":"2.0","id":12,"method":"callHierarchy/outgoingCalls","params":{"item":{"name":"act.tv","kind":1,"uri":"file:///w/act.tv","range":{"start":{"line":0,"character":0},"end":{"line":5,"character":12}},"selectionRange":{"start":{"line":0,"character":0},"end":{"line":0,"character":0}}}}}
<-- {"id":12,"result":[{"to":{"name":"quad","kind":12,"selectionRange":{"start":{"line":3,"character":0},"end":{"line":3,"character":5}}},"fromRanges":[{"start":{"line":5,"character":2},"end":{"line":5,"character":6}}]}]}
--> {"jsonrpc":"2.0","id":13,"method":"callHierarchy/outgoingCalls","params":{"item":{"name":"sq","kind":"function","uri":"file:///w/act.tv","range":{"start":{"line":2,"character":0},"end":{"line":2,"character":11}}}}}
<-- {"id":13,"error":{"code":-32602}}
--> {"jsonrpc":"2.0","id":14,"method":"shutdown"}
<-- {"id":14,"result":null}
--> {"jsonrpc":"2.0","method":"exit"}
<-- exit 0
