# Exit before shutdown ends the server with status 1, as the protocol says.
--> {"jsonrpc":"2.0","id":1,"method":"initialize","params":{}}
<-- {"id":1}
--> {"jsonrpc":"2.0","method":"exit"}
<-- exit 1
