' The server's extended SMTP options as bits.
' usage: options.vbs <smtp port> <expected hex>
Set m = CreateObject("Quenta.Mail")
m.MailServer = "127.0.0.1"
m.PortNumber = CLng(WScript.Arguments(0))
m.Timeout = 10
got = Hex(m.GetESNMPOption())
If got <> WScript.Arguments(1) Then WScript.Echo "FAIL GetESNMPOption: got " & got
WScript.Echo "DONE 0"
