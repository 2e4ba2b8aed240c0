' Credentials need marfel, which quenta loads from its own folder only.
Set m = CreateObject("Quenta.Mail")
On Error Resume Next
m.UserName = "folder-user"
If Err.Number <> 0 Then WScript.Echo "FAIL UserName: " & Err.HelpContext & " " & Err.Description
Err.Clear
If m.UserName <> "folder-user" Then WScript.Echo "FAIL UserName read back: " & m.UserName
WScript.Echo "DONE 0"
