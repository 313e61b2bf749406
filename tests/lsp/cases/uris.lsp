# URIs are turned into paths and paths into URIs as RFC 3986 says: a folder
# whose name holds a blank, "#", "%" and a letter past ASCII, made when the
# case runs. The client sends the folder escaped (%20, %23, %25, %C3%BC);
# included files are found there, and their places are sent back escaped.
+++ {"my dir #1 100% ü/lib.tv": "\\ Multiplies a number by itself.\n:sq dup * ;\n", "my dir #1 100% ü/sub dir/ü #2.tv": ":cube dup sq * ;\n", "my dir #1 100% ü/100%.tv": ":boom drop drop ;\n"}
--> {"jsonrpc":"2.0","id":1,"method":"initialize","params":{}}
<-- {"id":1}
--> {"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"{tmp}/my%20dir%20%231%20100%25%20%C3%BC/main.tv","languageId":"tolva","version":1,"text":"( lib.tv ) included\n( sub dir/ü #2.tv ) included\n3 cube . 4 sq . cr\n( 100%.tv ) included\nboom\n"}}}
<-- {"params":{"uri":"{tmp}/my%20dir%20%231%20100%25%20%C3%BC/main.tv","diagnostics":[]}}
# The run reads the files too: the one error is boom's, in 100%.tv, placed
# at the start of its line there.
<-- {"params":{"uri":"{tmp}/my%20dir%20%231%20100%25%20%C3%BC/main.tv","diagnostics":[{"range":{"start":{"line":4,"character":0},"end":{"line":4,"character":4}},"message":"Out of range: stack underflow\ndrop takes 1 value from the stack, which was empty","relatedInformation":[{"location":{"uri":"{tmp}/my%20dir%20%231%20100%25%20%C3%BC/100%25.tv","range":{"start":{"line":0,"character":0},"end":{"line":0,"character":0}}},"message":"fails here"},"..."]}]}}
--> {"jsonrpc":"2.0","id":2,"method":"textDocument/definition","params":{"textDocument":{"uri":"{tmp}/my%20dir%20%231%20100%25%20%C3%BC/main.tv"},"position":{"line":2,"character":3}}}
<-- {"id":2,"result":[{"uri":"{tmp}/my%20dir%20%231%20100%25%20%C3%BC/sub%20dir/%C3%BC%20%232.tv","range":{"start":{"line":0,"character":0},"end":{"line":0,"character":16}}}]}
--> {"jsonrpc":"2.0","id":3,"method":"textDocument/definition","params":{"textDocument":{"uri":"{tmp}/my%20dir%20%231%20100%25%20%C3%BC/main.tv"},"position":{"line":2,"character":12}}}
<-- {"id":3,"result":[{"uri":"{tmp}/my%20dir%20%231%20100%25%20%C3%BC/lib.tv","range":{"start":{"line":1,"character":0},"end":{"line":1,"character":11}}}]}
--> {"jsonrpc":"2.0","id":4,"method":"textDocument/hover","params":{"textDocument":{"uri":"{tmp}/my%20dir%20%231%20100%25%20%C3%BC/main.tv"},"position":{"line":2,"character":12}}}
<-- {"id":4,"result":{"contents":{"value":"```tolva\n:sq dup * ;\n```\n`( a -- b )`\n\nMultiplies a number by itself.\n"}}}
# A file the editor has open is read as the editor has it, however the
# client escapes its URI (here in lower case).
--> {"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"{tmp}/my%20dir%20%231%20100%25%20%c3%bc/lib.tv","languageId":"tolva","version":1,"text":":sq dup * ;\n:half 2 / ;\n"}}}
<-- {"params":{"uri":"{tmp}/my%20dir%20%231%20100%25%20%c3%bc/lib.tv","diagnostics":[]}}
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"{tmp}/my%20dir%20%231%20100%25%20%C3%BC/main.tv","version":2},"contentChanges":[{"text":"( lib.tv ) included\n8 half . cr\n"}]}}
<-- {"params":{"uri":"{tmp}/my%20dir%20%231%20100%25%20%C3%BC/main.tv","version":2,"diagnostics":[]}}
--> {"jsonrpc":"2.0","id":5,"method":"workspace/symbol","params":{"query":"half"}}
# found once, in the open file, under the client's URI
<-- {"id":5,"result":[{"name":"half","location":{"uri":"{tmp}/my%20dir%20%231%20100%25%20%c3%bc/lib.tv"}}]}
# A file that is not there is reported as such, escapes and all.
--> {"jsonrpc":"2.0","method":"textDocument/didChange","params":{"textDocument":{"uri":"{tmp}/my%20dir%20%231%20100%25%20%C3%BC/main.tv","version":3},"contentChanges":[{"text":"( no such #.tv ) included\n"}]}}
<-- {"params":{"version":3,"diagnostics":[]}}
<-- {"params":{"version":3,"diagnostics":[{"range":{"start":{"line":0,"character":17},"end":{"line":0,"character":25}},"message":"Runtime error: can't open file"}]}}
--> {"jsonrpc":"2.0","id":6,"method":"shutdown"}
<-- {"id":6,"result":null}
