# The client may ask for another time budget for each run, in milliseconds
# of processor time: the run stops there, and says so.
--> {"jsonrpc":"2.0","id":1,"method":"initialize","params":{"initializationOptions":{"timeBudget":250}}}
<-- {"id":1}
--> {"jsonrpc":"2.0","method":"textDocument/didOpen","params":{"textDocument":{"uri":"file:///o/a.tv","languageId":"tolva","version":1,"text":"{ 1 drop } while { 1 } repeat\n"}}}
<-- {"params":{"diagnostics":[]}}
<-- {"params":{"diagnostics":[{"range":{"start":{"line":0,"character":0},"end":{"line":0,"character":0}},"severity":3,"message":"the run was stopped by its budget of 250 ms of processor time: what it does later is not checked"}]}}
--> {"jsonrpc":"2.0","id":2,"method":"shutdown"}
<-- {"id":2,"result":null}
