// The bare system calls each operation rests on: what a program that calls the kernel
// itself, with nothing around the calls, must do for the same job. Buffers are the caller's
// and reused, so no allocation is counted here. Each returns false, saying why, on failure.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quarrow2::bench::raw {

// getxattr for the size, then getxattr for the value into `buffer` (resized only when too
// small).
bool GetValue(int fd, const std::string& attribute, std::vector<unsigned char>& buffer,
              std::string& why);

// setxattr of the whole value.
bool PutValue(int fd, const std::string& attribute, const std::string& value, std::string& why);

// getxattr for the size only.
bool ValueSize(int fd, const std::string& attribute, long& size, std::string& why);

// The file's items and their total size: open, listxattr for the size of the list, then for
// the list, one getxattr size query per "user." attribute, close. `names` is reused.
bool ListWithSizes(const std::string& path, std::vector<char>& names, size_t& count, long& total,
                   std::string& why);

// The same calls with the open-file-description locks that a byte-range lock held among
// processes needs, taken on `lockFd`, a descriptor of a lock file of the raw side's own open
// for reading and writing, over the value's bytes from offset 0: GetValueWithLockCheck asks
// whether another description holds a lock on that range (F_OFD_GETLK) between the size and
// the value; PutValueLocked takes the range with a write lock, which fails if anyone else
// holds any of it (F_OFD_SETLK), stores the value and gives the range back (F_OFD_SETLK,
// F_UNLCK). These are the kernel's own calls for the job, not a copy of how the library lays
// its locks out.
bool GetValueWithLockCheck(int fd, int lockFd, const std::string& attribute,
                           std::vector<unsigned char>& buffer, std::string& why);
bool PutValueLocked(int fd, int lockFd, const std::string& attribute, const std::string& value,
                    std::string& why);

// As a program that reads one value whole does it: open, one fgetxattr into `buffer` (sized
// first only when it is too small), close.
bool ReadValueOnce(const std::string& path, const std::string& attribute,
                   std::vector<unsigned char>& buffer, std::string& why);

// By path, as a program without a handle does it: getxattr for the size, then the value.
bool GetValueByPath(const std::string& path, const std::string& attribute,
                    std::vector<unsigned char>& buffer, std::string& why);

// By path: setxattr that creates the attribute with `first`, setxattr with `second`, then
// removexattr.
bool CreatePutRemove(const std::string& path, const std::string& attribute,
                     const std::string& first, const std::string& second, std::string& why);

}  // namespace quarrow2::bench::raw
