' Properties, error information and a plain send with an attachment.
' usage: english.vbs <smtp port> <csv path>
Dim failures
failures = 0
Sub Check(what, got, want)
    If CStr(got) <> CStr(want) Then
        WScript.Echo "FAIL " & what & ": got [" & got & "] want [" & want & "]"
        failures = failures + 1
    End If
End Sub

Set m = CreateObject("Quenta.Mail")
m.MailServer = "127.0.0.1"
Check "MailServer", m.MailServer, "127.0.0.1"
m.PortNumber = CLng(WScript.Arguments(0))
Check "PortNumber", m.PortNumber, WScript.Arguments(0)
m.Timeout = 10
Check "Timeout", m.Timeout, 10
m.UserName = "vbs-user"
Check "UserName", m.UserName, "vbs-user"

On Error Resume Next
m.AddTo "to@vbs.test", "before Create"
Check "Err.Number", Hex(Err.Number), "80004005"
Check "Err.Description", Err.Description, "Can not add the mail item."
Check "Err.HelpContext", Err.HelpContext, 2
Check "Err.Source", Err.Source, ""
Err.Clear
m.NoSuchMember
Check "unknown member", Hex(Err.Number), "1B6"
Err.Clear
On Error GoTo 0

m.Create 0
m.AddFrom "from@vbs.test", "VBS Sender"
m.AddTo "to@vbs.test", ""
m.AddSubject "Plain from VBScript"
m.AddBodyString "line one" & vbCrLf & "." & vbCrLf & "line three" & vbCrLf, 5
m.AddContent WScript.Arguments(1), "data.csv"
m.Send

On Error Resume Next
m.Send
Check "Send after a success", Err.HelpContext, 12
WScript.Echo "DONE " & failures
