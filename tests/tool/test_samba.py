"""Items on a real Samba share (vfs_streams_xattr): smbd on a loopback port, smbclient as the
SMB client, and the tool see the same items both ways, byte for byte. The share is a folder
of a larger tmpfs, marked by `quarrow2 shares --mark`, with home folders beside it; the
whole suite runs in a mount namespace of its own, which smbd shares."""
import ctypes
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

from tool_support import EMPTY_MARKER, run, user_items, utf16

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
guest ok = yes
read only = no
force user = root
[share]
path = {share}
vfs objects = streams_xattr
[odd]
path = {odd}
vfs objects = catia streams_xattr
streams_xattr:prefix = user.Win.
"""
OVERLAY_SHARE = "[overlay]\npath = {merged}\nvfs objects = streams_xattr\n"
FOLDERS = ["state directory", "lock directory", "pid directory", "cache directory",
           "private dir", "ncalrpc dir"]
# type, content as either side stores it
VALUES = [("Text", utf16("Jane Doe")), ("Surrogates", utf16("Grüße 😀")), ("Empty", b""),
          ("Bytes", bytes(range(256))), ("Marker", EMPTY_MARKER)]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def private_mounts():
    """This process (and what it starts) in a mount namespace of its own; None, or why not."""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(0x00020000) != 0:  # CLONE_NEWNS
        return os.strerror(ctypes.get_errno())
    if subprocess.run(["mount", "--make-rprivate", "/"]).returncode != 0:
        return "mount --make-rprivate / failed"
    return None


def in_view(script, *names):
    """A prefix that runs the tool in a mount namespace of its own after `script` (sh, with
    the names as $1...)."""
    return ("unshare", "-m", "--propagation", "private", "sh", "-c",
            script + ' && shift %d && exec "$@"' % len(names), "sh", *names)


class SambaShareTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        if os.geteuid() != 0 or not shutil.which("smbd") or not shutil.which("smbclient"):
            raise unittest.SkipTest("needs root, smbd and smbclient (samba, smbclient packages)")
        why = private_mounts()
        if why:
            raise unittest.SkipTest("no mount namespace of its own: " + why)
        cls.state = tempfile.mkdtemp(prefix="quarrow2-samba-")
        cls.addClassCleanup(shutil.rmtree, cls.state, True)
        cls.whole = os.path.join(cls.state, "fs")
        os.mkdir(cls.whole)
        if subprocess.run(["mount", "-t", "tmpfs", "tmpfs", cls.whole]).returncode != 0:
            raise unittest.SkipTest("cannot mount a tmpfs for the share")
        cls.addClassCleanup(subprocess.run, ["umount", "-l", cls.whole])
        cls.share, cls.odd, cls.home = (os.path.join(cls.whole, folder) for folder in
                                        ("srv/share", "srv/odd", "home/alice"))
        for folder in (cls.share + "/sub", cls.odd, cls.home, cls.whole + "/lower/dir",
                       cls.whole + "/upper", cls.whole + "/work"):
            os.makedirs(folder)
        open(cls.whole + "/lower/lower.txt", "w").close()
        cls.merged = os.path.join(cls.state, "merged")
        os.mkdir(cls.merged)
        layers = "lowerdir={0}/lower,upperdir={0}/upper,workdir={0}/work".format(cls.whole)
        cls.overlay = subprocess.run(["mount", "-t", "overlay", "-o", layers, "overlay",
                                      cls.merged], stderr=subprocess.DEVNULL).returncode == 0
        for n, _ in enumerate(FOLDERS):
            os.mkdir(os.path.join(cls.state, str(n)))
        folders = "\n".join("%s = %s/%d" % (key, cls.state, n) for n, key in enumerate(FOLDERS))
        cls.conf = os.path.join(cls.state, "smb.conf")
        cls.port = str(free_port())
        with open(cls.conf, "w") as conf:
            conf.write(CONFIGURATION.format(port=cls.port, folders=folders, state=cls.state,
                                            share=cls.share, odd=cls.odd))
            conf.write(OVERLAY_SHARE.format(merged=cls.merged) if cls.overlay else "")
        cls.marking = run("shares", "--mark", "--config", cls.conf)
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

    def smb(self, commands, fails=False, share="share"):
        result = subprocess.run(["smbclient", "//127.0.0.1/" + share, "-p", self.port, "-N", "-s",
                                 self.conf, "-c", commands], capture_output=True, text=True,
                                cwd=self.state)
        self.assertEqual("NT_STATUS_" in result.stdout + result.stderr, fails, result)
        return result.stdout

    def smb_get(self, name, item_type, share="share"):
        """The stream's bytes as smbclient gets them."""
        self.smb('get "%s:%s" got.bin' % (name, item_type), share=share)
        with open(os.path.join(self.state, "got.bin"), "rb") as got:
            return got.read()

    def streams(self, name=None):
        """{type: size} of the document as smbclient's allinfo lists its streams."""
        lines = self.smb("allinfo " + (name or os.path.basename(self.doc))).splitlines()
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

    def test_shares_report_how_each_share_keeps_streams(self):
        self.assertEqual(self.marking.returncode, 0, self.marking.stderr)
        self.assertEqual(os.getxattr(self.share, "user.quarrow2.layout"), b"samba")
        self.assertNotIn("user.quarrow2.layout", os.listxattr(self.odd))  # no layout serves it
        report = self.tool("shares", "--config", self.conf).decode()
        shares = {block.split("]")[0]: block for block in report.split("\n[")}
        for name, lines in [
                ("[share", ["] " + self.share, "streams_xattr: on, with the defaults",
                            "name mappings: none", "marker: samba\n",
                            "layout: samba, as the share needs"]),
                ("odd", ["] " + self.odd, "streams_xattr: on, with prefix user.Win.:",
                         "name mappings: catia (", "marker: none on this folder\n",
                         "layout: none serves"])]:
            for line in lines:
                self.assertIn(line, shares[name], name)
        missing = run("shares", prefix=("/usr/bin/env", "PATH=/nonexistent"))
        self.assertEqual((missing.returncode, missing.stdout), (1, b""))
        self.assertIn(b"testparm is not installed here", missing.stderr)

    def test_share_folder_beside_native_folders_of_its_file_system(self):
        notes = os.path.join(self.home, "notes.txt")
        open(notes, "w").close()
        self.tool("set", notes, "Author", "Jane")
        self.tool("set", self.doc, "Author", "Jane")
        self.assertEqual(user_items(notes), {"Author": utf16("Jane")})
        self.assertEqual(self.smb_get(os.path.basename(self.doc), "Author"), utf16("Jane"))
        for path in (notes, self.doc):
            self.assertIn(b"Author", self.tool("list", path))

    def test_every_mount_of_the_share_reaches_the_same_items(self):
        views = os.path.join(self.state, "view")
        os.makedirs(views, exist_ok=True)
        sub = os.path.join(self.share, "sub")
        bind, hide = 'mount --bind "$1" "$2"', ' && mount -t tmpfs tmpfs "$3"'
        # (mount script, its names, the document's folder as the view shows it)
        for n, (script, names, folder) in enumerate([
                (bind, (self.share, views), views),
                (bind + hide, (self.share, views, self.whole), views),  # a container's view
                (bind, (sub, views), views),
                (bind, (self.share, views), os.path.join(views, "sub"))]):
            with self.subTest(script=script, names=names, folder=folder):
                name = "viewed%d.txt" % n
                real = os.path.join(sub if folder.endswith("sub") or names[0] == sub
                                    else self.share, name)
                open(real, "w").close()
                seen = os.path.join(folder, name)
                self.run_in(in_view(script, *names), "set", "--bytes", seen, "Tool", "-",
                            stdin=b"from the view")
                smb_name = os.path.relpath(real, self.share).replace("/", "\\")
                self.assertEqual(self.smb_get(smb_name, "Tool"), b"from the view")
                self.smb('put smb.conf "%s:Windows"' % smb_name)
                got = self.run_in(in_view(script, *names), "get", "--bytes", seen, "Windows")
                self.assertEqual(got, open(self.conf, "rb").read())

    def run_in(self, prefix, *arguments, stdin=b""):
        result = run(*arguments, stdin=stdin, prefix=prefix)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def test_overlay_share_keeps_files_and_folders_alike(self):
        if not self.overlay:
            self.skipTest("overlayfs cannot be mounted here")
        self.assertEqual(os.getxattr(self.merged, "user.quarrow2.layout"), b"samba")
        for name in ("lower.txt", "dir"):  # both of the lower layer
            with self.subTest(name=name):
                self.tool("set", os.path.join(self.merged, name), "Author", "Jane")
                self.assertEqual(self.smb_get(name, "Author", share="overlay"), utf16("Jane"))

    def test_convert_moves_each_file_whole_both_ways(self):
        moving = os.path.join(self.share, "moving")
        os.mkdir(moving)
        os.setxattr(moving, "user.quarrow2.layout", b"native")
        one, two = os.path.join(moving, "one.txt"), os.path.join(moving, "two.txt")
        native = {one: [("A", utf16("alpha")), ("B", b"\x00\x01")],
                  two: [("A", b"a"), ("Big", b"x" * 65536), ("C", b"c")]}
        for path, items in native.items():
            open(path, "w").close()
            for item_type, value in items:
                self.tool("set", "--bytes", path, item_type, "-", stdin=value)
        outside = os.path.join(self.home, "outside.txt")  # led to by a link, left alone
        open(outside, "w").close()
        os.setxattr(outside, "user.Native", b"stays")
        os.symlink(outside, os.path.join(moving, "link"))
        # Samba's layout takes one byte more than the largest value tmpfs keeps.
        before = user_items(two)
        failed = run("convert", "--to", "samba", "-r", "--unmark", moving)
        self.assertEqual(failed.returncode, 1, failed.stderr)
        self.assertIn(b'(file "%s", type "Big"); the file\'s items were left in the native '
                      b"layout as they were." % two.encode(), failed.stderr)
        self.assertIn(b"The layout marker was left as it was", failed.stderr)
        self.assertEqual(user_items(two), before)
        os.removexattr(two, "user.Big")
        self.tool("convert", "--to", "samba", "-r", "--unmark", moving)
        self.assertNotIn("user.quarrow2.layout", os.listxattr(moving))
        self.assertEqual(user_items(outside), {"Native": b"stays"})
        for path, items in native.items():
            for item_type, value in items:
                if item_type != "Big":
                    self.assertEqual(self.smb_get("moving\\" + os.path.basename(path),
                                                  item_type), value)
        # Back, with an item Samba keeps whose native name would be the marker itself.
        self.smb('put smb.conf "moving\\one.txt:quarrow2.layout"')
        self.smb('put smb.conf "moving\\one.txt:Z"')
        before = user_items(one)
        failed = run("convert", "--to", "native", "-r", "--mark", moving)
        self.assertEqual(failed.returncode, 1, failed.stderr)
        self.assertIn(b'type "quarrow2.layout"); the file\'s items were left in the samba',
                      failed.stderr)
        self.assertEqual(user_items(one), before)
        self.assertNotIn("user.quarrow2.layout", os.listxattr(moving))
        for item_type in ("quarrow2.layout", "Z"):
            os.removexattr(one, "user.DosStream.%s:$DATA" % item_type)
        self.tool("convert", "--to", "native", "-r", "--mark", moving)
        self.assertEqual(os.getxattr(moving, "user.quarrow2.layout"), b"native")
        for path, items in native.items():  # beside Samba's own user.DOSATTRIB, which stays
            moved = {t: v for t, v in user_items(path).items() if t != "DOSATTRIB"}
            self.assertEqual(moved, {t: v for t, v in items if t != "Big"})
