"""Tags a file with its author and lists the file's items, through the module quarrow2.
In the build tree: PYTHONPATH=build/linux-release/python python3 hello_metadata.py FILE"""
import sys

import quarrow2

# The objects as a script for the Windows server uses them.
file = quarrow2.File()
if not file.SetFile(sys.argv[1]):
    sys.exit("The volume keeps no named streams.")
item = file.Add("Author")
item.Text = "Jane Doe"
print(f"Author: {item.Text} ({item.Length} bytes)")
item.Close()
for item_type in file.Types:
    print("item:", item_type)
file.Close()

# The same items as a mapping; the with block closes the file.
with quarrow2.File(sys.argv[1]) as f:
    f.items["Rating"] = b"\x05"  # bytes are stored as they are, str as UTF-16 text
    print(sorted(f.items), f.texts["Author"], f.items["Rating"])
    try:
        f.Open("Missing")
    except quarrow2.NotFoundError as error:  # a FileNotFoundError, with the library's codes
        print(f"{error.source}: {error} (errno {error.errno}, winerror {error.winerror})")
