# A GiB announced, two bytes sent, then the end.
--> {"jsonrpc":"2.0","id":1,"method":"initialize","params":{}}
==> Content-Length: 1073741824\r\n\r\n{}
