' Drives Quarrow2.File as a script does, late bound through the type library.
' The exit code is the number of failed checks.
Option Explicit
Dim failures, fso, path, file, item, types, t, name, made, want
failures = 0

Sub Check(condition, what)
    If Not condition Then
        failures = failures + 1
        WScript.Echo "FAILED: " & what
    End If
End Sub

' The error the last call left, as a script sees it, is the expected one; then cleared.
Sub CheckError(description, what)
    Check "[Quarrow2.File.1] " & description = "[" & Err.Source & "] " & Err.Description, what
    Err.Clear
End Sub

Set fso = CreateObject("Scripting.FileSystemObject")
path = fso.BuildPath(fso.GetSpecialFolder(2), "quarrow2-script-test.txt")
fso.CreateTextFile(path, True).Close
Set file = CreateObject("Quarrow2.File")
Check Not file.Supported, "Supported before SetFile"
Check file.SetFile(path) = False, "SetFile on a Wine path answers False"
Check file.Supported = False, "Supported repeats SetFile's answer"
Check file.Exists, "Exists for a file that is there"
Set types = file.Types
Check types.Count = 0, "Types of a volume without streams is empty"
For Each t In types
    Check False, "For Each over Types finds nothing, not " & t
Next

On Error Resume Next
Set item = file.Add("Author")
Check Err.Number = &H80004005, "Add fails with E_FAIL, not " & Hex(Err.Number)
CheckError "Volume does not support streams.", "Add on a volume without streams"
Set item = file.Open("Author")
CheckError "Volume does not support streams.", "Open on a volume without streams"
t = types(1)
Check Err.Number <> 0, "Item 1 of an empty collection fails"
Err.Clear
On Error GoTo 0

file.Close
Check Not file.Exists, "Exists after Close"
Check Not file.Supported, "Supported after Close"
On Error Resume Next
Set item = file.Open("Author")
CheckError "No file path assigned.", "Open after Close"
Set item = file.Add("Author")
CheckError "No file path assigned.", "Add after Close"
For Each name In Array("$DATA", "", ":$DATA", ":")
    Set item = file.Add(name)
    CheckError "Access to this data type forbidden.", "Add of '" & name & "'"
Next
' IFile2's and IFile3's members, on the same object: a status of its own for each cause.
Sub CheckStatus(number, description, what)
    Check Err.Number = number, what & " fails with " & Hex(number) & ", not " & Hex(Err.Number)
    CheckError description, what
End Sub
' Unbound, then on Wine's volume, which keeps no named streams.
For Each want In Array(Array(&H80040007, "No file path assigned."), _
                       Array(&H80070032, "Volume does not support streams."))
    t = file.Items
    CheckStatus want(0), want(1), "Items"
    t = file.Names
    CheckStatus want(0), want(1), "Names"
    t = file.ReadText("Author")
    CheckStatus want(0), want(1), "ReadText"
    t = file.ReadData("a/b")
    CheckStatus want(0), want(1), "ReadData"
    t = file.ReadText("$DATA")
    CheckStatus &H8007007B, "Access to this data type forbidden.", "ReadText of $DATA"
    file.SetFile path
Next
file.Close
For Each name In Array("Quarrow2.MetaData", "Quarrow2.Strings")
    Set made = CreateObject(name)
    Check Err.Number <> 0, "CreateObject of " & name & " fails"
    Err.Clear
Next
On Error GoTo 0
file.SetFile fso.BuildPath(fso.GetSpecialFolder(2), "quarrow2-no-such-file.txt")
Check Not file.Exists, "Exists for a file that is not there"

fso.DeleteFile path
WScript.Echo failures & " failed"
WScript.Quit failures
