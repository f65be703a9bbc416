"""Items on a real Samba share (vfs_streams_xattr): smbd on a loopback port, smbclient as the
SMB client, and the tool see the same items both ways, byte for byte."""
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

from tool_support import EMPTY_MARKER, run, utf16

CONFIGURATION = """[global]
smb ports = {port}
interfaces = lo
bind interfaces only = yes
disable netbios = yes
server role = standalone server
map to guest = Bad User
load printers = no
printcap name = /dev/null
{folders}
log file = {state}/smbd.log
[share]
path = {share}
vfs objects = streams_xattr
guest ok = yes
read only = no
force user = root
"""
FOLDERS = ["state directory", "lock directory", "pid directory", "cache directory",
           "private dir", "ncalrpc dir"]
# type, content as either side stores it
VALUES = [("Text", utf16("Jane Doe")), ("Surrogates", utf16("Grüße 😀")), ("Empty", b""),
          ("Bytes", bytes(range(256))), ("Marker", EMPTY_MARKER)]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def sorted_items(dump):
    (only_file,) = json.loads(dump)["files"]
    return sorted(only_file["items"], key=lambda item: item["type"])


class SambaShareTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0 or not shutil.which("smbd") or not shutil.which("smbclient"):
            raise unittest.SkipTest("needs root, smbd and smbclient (samba, smbclient packages)")
        cls.state = tempfile.mkdtemp(prefix="quarrow2-samba-")
        cls.addClassCleanup(shutil.rmtree, cls.state, True)
        cls.share = os.path.join(cls.state, "share")
        os.mkdir(cls.share)
        if subprocess.run(["mount", "-t", "tmpfs", "tmpfs", cls.share]).returncode != 0:
            raise unittest.SkipTest("cannot mount a tmpfs for the share")
        cls.addClassCleanup(subprocess.run, ["umount", "-l", cls.share])
        os.setxattr(cls.share, "user.quarrow2.layout", b"samba")  # the file system's layout
        for n, _ in enumerate(FOLDERS):
            os.mkdir(os.path.join(cls.state, str(n)))
        folders = "\n".join("%s = %s/%d" % (key, cls.state, n) for n, key in enumerate(FOLDERS))
        cls.conf = os.path.join(cls.state, "smb.conf")
        cls.port = str(free_port())
        with open(cls.conf, "w") as conf:
            conf.write(CONFIGURATION.format(port=cls.port, folders=folders, state=cls.state,
                                            share=cls.share))
        # In a process group of its own: smbd stops by signalling its whole group.
        server = subprocess.Popen(["smbd", "--foreground", "--no-process-group", "-s", cls.conf],
                                  process_group=0, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        cls.addClassCleanup(server.wait)
        cls.addClassCleanup(lambda: server.poll() is None and os.killpg(server.pid, signal.SIGTERM))
        for _ in range(100):
            with socket.socket() as client:
                if client.connect_ex(("127.0.0.1", int(cls.port))) == 0:
                    return
            if server.poll() is not None:
                break
            time.sleep(0.1)
        log = os.path.join(cls.state, "smbd.log")
        lines = open(log, errors="replace").read().split("\n") if os.path.exists(log) else []
        raise unittest.SkipTest("smbd did not start: " + " ".join(lines[-3:]).strip())

    def setUp(self):
        os.environ.pop("QUARROW2_LAYOUT", None)
        self.doc = os.path.join(self.share, self.id().rsplit(".", 1)[1] + ".txt")
        open(self.doc, "w").close()

    def smb(self, commands, fails=False):
        result = subprocess.run(["smbclient", "//127.0.0.1/share", "-p", self.port, "-N", "-s",
                                 self.conf, "-c", commands], capture_output=True, text=True,
                                cwd=self.state)
        self.assertEqual("NT_STATUS_" in result.stdout + result.stderr, fails, result)
        return result.stdout

    def streams(self):
        """{type: size} of the document as smbclient's allinfo lists its streams."""
        lines = self.smb("allinfo " + os.path.basename(self.doc)).splitlines()
        pairs = [line[10:].rsplit(":$DATA], ", 1) for line in lines if line.startswith("stream: [:")]
        return {name: int(size.split()[0]) for name, size in pairs if name}

    def tool(self, *arguments, stdin=b"", cwd=None):
        result = run(*arguments, stdin=stdin, cwd=cwd)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def test_streams_smbclient_puts_are_items(self):
        for item_type, value in VALUES:
            with open(os.path.join(self.state, "local.bin"), "wb") as local:
                local.write(value)
            self.smb('put local.bin "%s:%s"' % (os.path.basename(self.doc), item_type))
            out = self.tool("get", "--bytes", self.doc, item_type)
            self.assertEqual(out, b"" if value == EMPTY_MARKER else value, item_type)
        listed = json.loads(self.tool("list", "--json", self.doc))["files"][0]["items"]
        in_order = [n[15:-6] for n in os.listxattr(self.doc) if n.startswith("user.DosStream.")]
        self.assertEqual([(i["type"], i["length"]) for i in listed],
                         [(t, len(dict(VALUES)[t])) for t in in_order])
        self.assertEqual(self.tool("length", self.doc).split()[0],
                         str(sum(len(v) for _, v in VALUES)).encode())

    def test_tool_items_are_streams_smbclient_reads(self):
        name = os.path.basename(self.doc)
        for item_type, value in VALUES:
            self.tool("set", "--bytes", self.doc, item_type, "-", stdin=value)
        stored = {t: v or EMPTY_MARKER for t, v in VALUES}  # an empty value is the marker
        self.assertEqual(self.streams(), {t: len(v) for t, v in stored.items()})
        for item_type, value in stored.items():
            self.smb('get "%s:%s" got.bin' % (name, item_type))
            with open(os.path.join(self.state, "got.bin"), "rb") as got:
                self.assertEqual(got.read(), value, item_type)
        self.tool("rm", self.doc, "Text")
        self.assertNotIn("Text", self.streams())

    def test_names_follow_samba_rules(self):
        open(os.path.join(self.state, "local.bin"), "wb").close()
        for item_type, refusal in [("a" * 234, None), ("q?m <|>*", None),
                                   ("b" * 235, "The filename or extension is too long."),
                                   ("back\\slash", "The filename, directory name, or volume")]:
            self.smb('put local.bin "%s:%s"' % (os.path.basename(self.doc), item_type),
                     fails=bool(refusal))
            result = run("set", self.doc, "ours" + item_type[4:], "x")
            self.assertEqual(result.returncode, 1 if refusal else 0, result.stderr)
            self.assertIn((refusal or "").encode(), result.stderr)

    def test_file_with_items_in_both_layouts_is_reported(self):
        os.setxattr(self.doc, "user.Native", b"x")
        for letter in "NOPQ":  # names longer together than the first read of them takes
            os.setxattr(self.doc, "user." + letter * 250, b"x")
        self.smb('put smb.conf "%s:Windows"' % os.path.basename(self.doc))
        for layout, shown in [("samba", b"Windows"), ("native", b"Native")]:
            listed = run("--layout", layout, "list", self.doc)
            self.assertIn(shown, listed.stdout)
            self.assertIn(b'warning: "%s" carries items in both layouts' % self.doc.encode(),
                          listed.stderr)
            refused = run("--layout", layout, "set", self.doc, "New", "x")
            self.assertIn(b"The extended attributes are inconsistent.", refused.stderr)

    def test_dump_restores_across_layouts(self):
        native, back = tempfile.mkdtemp(), tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, native)
        self.addCleanup(shutil.rmtree, back)
        name = os.path.basename(self.doc)
        for item_type, value in VALUES:
            self.tool("set", "--bytes", os.path.join(native, name), item_type, "-", stdin=value)
        dump = self.tool("--layout", "native", "dump", name, cwd=native)
        self.tool("--layout", "samba", "restore", "-", stdin=dump, cwd=self.share)
        self.assertEqual(set(self.streams()), {t for t, _ in VALUES})
        again = self.tool("dump", name, cwd=self.share)
        self.tool("--layout", "native", "restore", "--create", "-", stdin=again, cwd=back)
        for document in [again, self.tool("dump", name, cwd=back)]:  # each in its own order
            self.assertEqual(sorted_items(document), sorted_items(dump))
