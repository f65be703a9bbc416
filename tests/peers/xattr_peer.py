"""Python's extended attributes as a peer of the tests, in the dump form of getfattr -e hex:
"xattr_peer.py dump FILE" writes one, "xattr_peer.py restore DUMP" sets what one lists."""
import os
import sys


def main(command, path):
    if command == "dump":
        for name in map(os.fsencode, os.listxattr(path)):
            if name.startswith(b"user."):
                value = os.getxattr(path, name).hex().encode()
                sys.stdout.buffer.write(name + b"=0x" + value + b"\n")
        return
    with open(path, "rb") as dump:
        for line in dump.read().splitlines():
            if line.startswith(b"# file: "):
                path = line[len(b"# file: "):]
            elif line.startswith(b"user."):
                name, _, value = line.rpartition(b"=0x")
                os.setxattr(path, name, bytes.fromhex(value.decode()))


if __name__ == "__main__":
    main(*sys.argv[1:])
