// The operations on one item that the benchmarks time and that bench/syscalls counts system
// calls of, each as two steps over the same fixture: the library's, and the raw system calls
// a program would make for the same job. One table, so that what is counted is what is
// timed.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "bench/support/item_fixture.h"

namespace quarrow2::bench {

// A step returns false, saying why, when it failed.
using ItemStep = std::function<bool(ItemFixture&, std::string&)>;

struct ItemOperation {
    std::string name;  // "Text get", "Open + Text get + Close", ...
    bool openItem;     // whether the fixture opens the item through the library first
    ItemStep library;
    ItemStep raw;
};

// On an item opened once, for values of `size` bytes: Text and Data get and put and Length,
// each beside the calls on a descriptor of the file (getxattr for the size then the value,
// setxattr, getxattr for the size), then Text get and put beside the same calls with the
// byte-range lock calls (raw_xattr.h).
std::vector<ItemOperation> OpenItemOperations(size_t size);

// Open + Text get + Close, beside getxattr for the size and then the value, by path.
ItemOperation OpenTextGetClose();

// IFile2's one-shot ReadText, beside open, fgetxattr into a buffer and close.
ItemOperation OneShotRead();

// Add + Text put + Delete of an item "Cycle" with a value of `size` bytes, beside setxattr
// creating the attribute with the empty-value marker, setxattr of the value and removexattr,
// by path.
ItemOperation AddTextPutDelete(size_t size);

// Open + Close: opening the item (its share-mode claim included) and letting it go, beside
// getxattr for the size by path.
ItemOperation OpenClose();

}  // namespace quarrow2::bench
