"""Failures of the library and of the files: one line, status 1, nothing changed."""
import json
import os
import unittest

from tool_support import ToolTestCase, run, utf16

NO_STREAMS = "/proc/self/status"
# Beyond what Linux lets any file system keep in one extended attribute (64 KiB).
TOO_LARGE_EVERYWHERE = "x" * 40000


class FailureTest(ToolTestCase):
    def assertUntouched(self, path, *missing):
        self.assertEqual(os.listxattr(path), ["user.Author"])
        self.assertEqual(os.getxattr(path, "user.Author"), utf16("Jane"))
        with open(path, "rb") as handle:
            self.assertEqual(handle.read(), b"content")
        for name in missing:
            self.assertFalse(os.path.exists(name))

    def test_missing_files_forbidden_types_and_the_volume_without_streams(self):
        path = self.make_file("notes.txt", b"content", [("Author", utf16("Jane"))])
        missing = self.path("missing.txt")
        cases = [(["get", missing, "Author"], "Unable to open metadata.", missing),
                 (["rm", missing, "Author"], "Unable to open metadata.", missing),
                 (["list", missing], "File not found.", missing),
                 (["length", missing], "File not found.", missing)]
        for item_type in ["$DATA", ":$DATA", ":", ""]:
            cases += [(arguments, "Access to this data type forbidden.", 'type "%s"' % item_type)
                      for arguments in (["get", path, item_type], ["set", path, item_type, "x"],
                                        ["set", "--bytes", missing, item_type, "x"],
                                        ["rm", path, item_type])]
        if os.path.exists(NO_STREAMS):
            cases += [(arguments, "Volume does not support streams.", NO_STREAMS)
                      for arguments in (["list", NO_STREAMS], ["list", "-r", NO_STREAMS],
                                        ["length", NO_STREAMS], ["get", NO_STREAMS, "Author"],
                                        ["set", NO_STREAMS, "Author", "Jane"],
                                        ["rm", NO_STREAMS, "Author"])]
            result = run("list", "--json", NO_STREAMS)
            self.assertFails(result, 1, "Volume does not support streams.")
            self.assertEqual(json.loads(result.stdout), {"files": [
                {"path": NO_STREAMS, "error": "Volume does not support streams."}]})
        else:
            print(NO_STREAMS + " is missing (no /proc file system): the volume cases are left out")
        for arguments, description, subject in cases:
            with self.subTest(arguments=arguments):
                message = self.assertFails(run(*arguments), 1, description, subject)
                self.assertTrue(message.startswith("quarrow2: " + description), message)
        self.assertUntouched(path, missing)
        self.assertSucceeds(run("set", missing, "$data", "allowed"))
        self.assertEqual(os.getxattr(missing, "user.$data"), utf16("allowed"))

    def test_a_value_too_large_keeps_the_old_one_and_leaves_nothing_new(self):
        path = self.make_file("notes.txt", b"content", [("Author", utf16("Jane"))])
        missing = self.path("missing.txt")
        cases = [(["set", path, "Author", TOO_LARGE_EVERYWHERE], b""),
                 (["set", "--bytes", path, "Author", "-"], b"y" * 70000),
                 (["set", path, "Abstract", TOO_LARGE_EVERYWHERE], b""),
                 (["set", missing, "Abstract", TOO_LARGE_EVERYWHERE], b"")]
        # ext4 without ea_inode keeps about 4 KiB of attributes per file; other file
        # systems take 10 KiB, and then there is nothing to refuse.
        probe = self.make_file("probe.txt")
        try:
            os.setxattr(probe, "user.probe", b"z" * 10240)
        except OSError:
            cases.append((["set", path, "Author", "z" * 5120], b""))
        for arguments, stdin in cases:
            with self.subTest(arguments=arguments[:3]):
                message = self.assertFails(run(*arguments, stdin=stdin), 1)
                self.assertRegex(message, r"^quarrow2: Unable to put (text|data)\. \S")
                self.assertIn('(file "%s", type "%s")' % (arguments[-3], arguments[-2]), message)
        self.assertUntouched(path, missing)


if __name__ == "__main__":
    unittest.main()
