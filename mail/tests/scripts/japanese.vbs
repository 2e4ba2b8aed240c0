' Under Japanese resources: the Japanese error texts and a JP message (names, a subject of 40
' characters, a body with "." lines, a csv attachment), or an EU message; each sent plain.
' The texts come from a UTF-16 file, one a line: JP from name, JP to name, JP subject, three
' JP body lines, the texts of errors 2 and 12, EU from name, EU subject, EU body.
' usage: japanese.vbs <smtp port> <csv path> <texts file> jp|eu
Dim failures
failures = 0
Sub Check(what, got, want)
    If CStr(got) <> CStr(want) Then
        WScript.Echo "FAIL " & what & ": got " & Len(got) & " characters, want " & Len(want)
        failures = failures + 1
    End If
End Sub

Set fso = CreateObject("Scripting.FileSystemObject")
Set file = fso.OpenTextFile(WScript.Arguments(2), 1, False, -1)
texts = Split(file.ReadAll, vbCrLf)
file.Close

Set m = CreateObject("Quenta.Mail")
m.MailServer = "127.0.0.1"
m.PortNumber = CLng(WScript.Arguments(0))
m.Timeout = 10
If WScript.Arguments(3) = "eu" Then
    m.Create 2
    m.AddFrom "from@vbs.test", texts(8)
    m.AddTo "to@vbs.test", ""
    m.AddSubject texts(9)
    m.AddBodyString texts(10) & vbCrLf, 5
    m.Send
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
m.AddFrom "from@vbs.test", texts(0)
m.AddTo "to@vbs.test", texts(1)
m.AddSubject texts(2)
m.AddBodyString texts(3) & vbCrLf & "." & vbCrLf & texts(4) & vbCrLf, 2
m.AddBodyString texts(5) & vbCrLf, 4
m.AddContent WScript.Arguments(1), "data.csv"
m.Send
WScript.Echo "DONE " & failures
