' Under Japanese resources: the Japanese error texts and a JP message (names, a subject of 40
' characters, a body with "." lines, a csv attachment), or an EU message; each sent plain, or
' with SendAuth when options, user name and password follow. The envelope sender is
' jp@vbs.test or eu@vbs.test. The texts come from a UTF-16 file, one a line: JP from name, JP
' to name, JP subject, three JP body lines, the texts of errors 2 and 12, EU from name, EU
' subject, EU body.
' usage: japanese.vbs <server> <port> <csv path> <texts file> jp|eu [<options> <user> <password>]
Dim failures
failures = 0
Sub Check(what, got, want)
    If CStr(got) <> CStr(want) Then
        WScript.Echo "FAIL " & what & ": got " & Len(got) & " characters, want " & Len(want)
        failures = failures + 1
    End If
End Sub

Set fso = CreateObject("Scripting.FileSystemObject")
Set file = fso.OpenTextFile(WScript.Arguments(3), 1, False, -1)
texts = Split(file.ReadAll, vbCrLf)
file.Close

Set m = CreateObject("Quenta.Mail")
m.MailServer = WScript.Arguments(0)
m.PortNumber = CLng(WScript.Arguments(1))
m.Timeout = 30
authenticated = WScript.Arguments.Count > 5
If authenticated Then
    m.UserName = WScript.Arguments(6)
    m.Password = WScript.Arguments(7)
End If
Sub SendIt()
    If authenticated Then
        m.SendAuth CLng(WScript.Arguments(5))
    Else
        m.Send
    End If
End Sub

If WScript.Arguments(4) = "eu" Then
    m.Create 2
    m.AddFrom "eu@vbs.test", texts(8)
    m.AddTo "to@vbs.test", ""
    m.AddSubject texts(9)
    m.AddBodyString texts(10) & vbCrLf, 5
    SendIt
    WScript.Echo "DONE " & failures
    WScript.Quit
End If

On Error Resume Next
m.AddFrom "from@vbs.test", ""
Check "text of 2", Err.Description, texts(6)
Check "help context", Err.HelpContext, 2
Err.Clear
m.Send
Check "text of 12", Err.Description, texts(7)
Err.Clear
On Error GoTo 0

m.Create 1
m.AddFrom "jp@vbs.test", texts(0)
m.AddTo "to@vbs.test", texts(1)
m.AddSubject texts(2)
m.AddBodyString texts(3) & vbCrLf & "." & vbCrLf & texts(4) & vbCrLf, 2
m.AddBodyString texts(5) & vbCrLf, 4
m.AddContent WScript.Arguments(2), "data.csv"
SendIt
WScript.Echo "DONE " & failures
