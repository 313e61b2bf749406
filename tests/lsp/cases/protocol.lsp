# The protocol's rules: nothing before initialize, errors that keep the
# server serving, and the exit status that tells whether shutdown came first.
--> {"jsonrpc":"2.0","id":1,"method":"textDocument/hover","params":{}}
<-- {"id":1,"error":{"code":-32002}}
--> {"jsonrpc":"2.0","id":2,"method":"initialize","params":{}}
<-- {"id":2,"result":{"serverInfo":{"name":"tolva-lsp"}}}
==> Content-Length: 8\r\n\r\n{"jsonrp
<-- {"id":null,"error":{"code":-32700}}
==> Content-Type: text/plain\r\n\r\n
<-- {"id":null,"error":{"code":-32700}}
--> [1, 2]
<-- {"id":null,"error":{"code":-32600}}
--> {"jsonrpc":"2.0","id":3,"method":"no/such","params":{}}
<-- {"id":3,"error":{"code":-32601}}
--> {"jsonrpc":"2.0","id":5,"method":"textDocument/hover","params":{"textDocument":{"uri":"file:///never/opened.tv"},"position":{"line":0,"character":0}}}
<-- {"id":5,"result":null}
--> {"jsonrpc":"2.0","id":6,"method":"shutdown"}
<-- {"id":6,"result":null}
--> {"jsonrpc":"2.0","id":7,"method":"textDocument/hover","params":{}}
<-- {"id":7,"error":{"code":-32600}}
--> {"jsonrpc":"2.0","method":"exit"}
<-- exit 0
