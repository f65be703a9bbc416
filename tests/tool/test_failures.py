"""Failures of the library and of the files: one line, status 1, nothing changed."""
import json
import os
import unittest

from tool_support import ToolTestCase, run

FORBIDDEN = ["$DATA", ":$DATA", ":", ""]
NO_STREAMS = "/proc/self/status"
# Beyond what Linux lets any file system keep in one extended attribute (64 KiB).
TOO_LARGE_EVERYWHERE = "x" * 40000


def utf16(text):
    return text.encode("utf-16-le")


class MissingFileTest(ToolTestCase):
    def test_reading_commands_do_not_create_a_missing_file(self):
        path = self.path("missing.txt")
        cases = {
            "get": (["get", path, "Author"], "Unable to open metadata."),
            "rm": (["rm", path, "Author"], "Unable to open metadata."),
            "list": (["list", path], "File not found."),
            "length": (["length", path], "File not found."),
        }
        for name, (arguments, description) in cases.items():
            with self.subTest(name):
                message = self.assertFails(run(*arguments), 1, description, path)
                self.assertTrue(message.startswith("quarrow2: " + description), message)
                self.assertFalse(os.path.exists(path))


class ForbiddenTypeTest(ToolTestCase):
    def test_forbidden_types_are_refused_and_change_nothing(self):
        path = self.make_file("notes.txt", b"content", [("Author", utf16("Jane"))])
        missing = self.path("missing.txt")
        for item_type in FORBIDDEN:
            for arguments in (["get", path, item_type], ["set", path, item_type, "x"],
                              ["set", "--bytes", missing, item_type, "x"],
                              ["rm", path, item_type]):
                with self.subTest(arguments=arguments):
                    message = self.assertFails(run(*arguments), 1,
                                               "Access to this data type forbidden.")
                    self.assertIn('type "%s"' % item_type, message)
        self.assertEqual(os.listxattr(path), ["user.Author"])
        self.assertEqual(os.getxattr(path, "user.Author"), utf16("Jane"))
        with open(path, "rb") as handle:
            self.assertEqual(handle.read(), b"content")
        self.assertFalse(os.path.exists(missing))

    def test_a_lower_case_data_type_is_an_ordinary_type(self):
        path = self.make_file("notes.txt")
        self.assertSucceeds(run("set", path, "$data", "allowed"))
        self.assertEqual(os.getxattr(path, "user.$data"), utf16("allowed"))


class NoNamedStreamsTest(ToolTestCase):
    def test_every_command_names_the_volume_without_named_streams(self):
        if not os.path.exists(NO_STREAMS):
            self.skipTest(NO_STREAMS + " is missing (no /proc file system)")
        for arguments in (["list", NO_STREAMS], ["list", "-r", NO_STREAMS],
                          ["length", NO_STREAMS], ["get", NO_STREAMS, "Author"],
                          ["set", NO_STREAMS, "Author", "Jane"],
                          ["rm", NO_STREAMS, "Author"]):
            with self.subTest(arguments=arguments):
                message = self.assertFails(run(*arguments), 1, "Volume does not support streams.",
                                           NO_STREAMS)
                self.assertTrue(message.startswith("quarrow2: Volume does not support streams."))

    def test_json_list_reports_the_volume_in_the_document(self):
        if not os.path.exists(NO_STREAMS):
            self.skipTest(NO_STREAMS + " is missing (no /proc file system)")
        result = run("list", "--json", NO_STREAMS)
        self.assertFails(result, 1, "Volume does not support streams.")
        self.assertEqual(json.loads(result.stdout), {"files": [
            {"path": NO_STREAMS, "error": "Volume does not support streams."}]})


class TooLargeTest(ToolTestCase):
    def assertTooLarge(self, arguments, stdin=b""):
        message = self.assertFails(run(*arguments, stdin=stdin), 1)
        self.assertRegex(message, r"^quarrow2: Unable to put (text|data)\. \S")
        return message

    def test_a_value_too_large_for_any_file_system_keeps_the_old_one(self):
        path = self.make_file("notes.txt", b"content", [("Author", utf16("Jane"))])
        message = self.assertTooLarge(["set", path, "Author", TOO_LARGE_EVERYWHERE])
        self.assertIn('(file "%s", type "Author")' % path, message)
        self.assertTooLarge(["set", "--bytes", path, "Author", "-"], stdin=b"y" * 70000)
        self.assertEqual(os.listxattr(path), ["user.Author"])
        self.assertEqual(os.getxattr(path, "user.Author"), utf16("Jane"))

    def test_a_new_item_too_large_leaves_no_item_and_no_file_behind(self):
        path = self.make_file("notes.txt", items=[("Author", utf16("Jane"))])
        self.assertTooLarge(["set", path, "Abstract", TOO_LARGE_EVERYWHERE])
        self.assertEqual(os.listxattr(path), ["user.Author"])
        missing = self.path("missing.txt")
        self.assertTooLarge(["set", missing, "Abstract", TOO_LARGE_EVERYWHERE])
        self.assertFalse(os.path.exists(missing))

    def test_a_value_beyond_this_file_systems_attribute_space(self):
        # ext4 without ea_inode keeps about 4 KiB of attributes per file; other file
        # systems take 10 KiB, and then there is nothing to refuse.
        path = self.make_file("notes.txt", items=[("Author", utf16("Jane"))])
        probe = self.make_file("probe.txt")
        try:
            os.setxattr(probe, "user.probe", b"z" * 10240)
            self.skipTest("this file system keeps a 10 KiB attribute value")
        except OSError:
            pass
        self.assertTooLarge(["set", path, "Author", "z" * 5120])
        self.assertEqual(os.getxattr(path, "user.Author"), utf16("Jane"))


if __name__ == "__main__":
    unittest.main()
