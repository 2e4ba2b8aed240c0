' The server's extended SMTP options as bits.
' usage: options.vbs <server> <port> <expected hex>
Set m = CreateObject("Quenta.Mail")
m.MailServer = WScript.Arguments(0)
m.PortNumber = CLng(WScript.Arguments(1))
m.Timeout = 30
got = Hex(m.GetESNMPOption())
If got <> WScript.Arguments(2) Then WScript.Echo "FAIL GetESNMPOption: got " & got
WScript.Echo "DONE 0"
