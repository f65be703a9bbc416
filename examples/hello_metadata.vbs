' Tags a file with its author and lists the file's items.
Option Explicit
Dim fso, path, file, item, itemType
Set fso = CreateObject("Scripting.FileSystemObject")
path = fso.BuildPath(fso.GetSpecialFolder(2), "hello-metadata.txt")
fso.CreateTextFile(path, True).Close

Set file = CreateObject("Quarrow2.File")
If file.SetFile(path) Then
    Set item = file.Add("Author")
    item.Text = "Jane Doe"
    WScript.Echo "Author: " & item.Text & " (" & item.Length & " bytes)"
    item.Close
    For Each itemType In file.Types
        WScript.Echo "item: " & itemType
    Next
Else
    WScript.Echo "The volume of " & path & " keeps no named streams."
End If
file.Close
