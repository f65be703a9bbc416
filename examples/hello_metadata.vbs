' Tags a file with its author and lists the file's items.
Option Explicit
Dim fso, path, file, item, items, i
Set fso = CreateObject("Scripting.FileSystemObject")
path = fso.BuildPath(fso.GetSpecialFolder(2), "hello-metadata.txt")
fso.CreateTextFile(path, True).Close

Set file = CreateObject("Quarrow2.File")
If file.SetFile(path) Then
    Set item = file.Add("Author")
    item.Text = "Jane Doe"
    WScript.Echo "Author: " & item.Text & " (" & item.Length & " bytes)"
    item.Close
    ' Row i of Items: the type name, then its size; Types would give the names alone.
    items = file.Items
    For i = 0 To UBound(items, 1)
        WScript.Echo "item: " & items(i, 0) & " (" & items(i, 1) & " bytes)"
    Next
Else
    ' Where Types answers "no items", Items says why.
    On Error Resume Next
    items = file.Items
    WScript.Echo "The volume of " & path & " keeps no named streams: " & Err.Description
End If
file.Close
