"""Python's os.getxattr, os.setxattr and os.listxattr as a peer of the tests. Names and
values travel as hex (names as their UTF-8 bytes), so no console encoding gets in between.

    xattr_peer.py list FILE              one line per "user." attribute name, without the prefix
    xattr_peer.py read FILE NAME         the value; exit status 2 when there is none
    xattr_peer.py write FILE NAME VALUE  creates or replaces the attribute
"""
import errno
import os
import sys


def attribute(name_hex):
    return b"user." + bytes.fromhex(name_hex)


def main(command, path, *rest):
    path = os.fsencode(path)
    if command == "list":
        for name in os.listxattr(path):
            encoded = os.fsencode(name)
            if encoded.startswith(b"user."):
                print(encoded[len(b"user."):].hex())
    elif command == "read":
        try:
            print(os.getxattr(path, attribute(rest[0])).hex())
        except OSError as error:
            if error.errno != errno.ENODATA:
                raise
            return 2
    elif command == "write":
        os.setxattr(path, attribute(rest[0]), bytes.fromhex(rest[1]))
    else:
        return 64
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
