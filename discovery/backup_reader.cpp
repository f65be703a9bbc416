#include "discovery/backup_reader.h"

#include <cstdint>

namespace quarrow2::discovery {
namespace {

// A read context with all bits set is the platform's mark of one that is no longer usable.
LPVOID const kLostContext = reinterpret_cast<LPVOID>(~static_cast<uintptr_t>(0));

}  // namespace

HandleBackupReader::~HandleBackupReader() {
    if (context_ != nullptr && !ContextLost())
        BackupRead(nullptr, nullptr, 0, nullptr, TRUE, FALSE, &context_);
}

bool HandleBackupReader::Read(void* buffer, DWORD count, DWORD* bytesRead) {
    BOOL ok =
        BackupRead(file_, static_cast<LPBYTE>(buffer), count, bytesRead, FALSE, FALSE, &context_);
    return ok && !ContextLost();
}

bool HandleBackupReader::Skip(ULONGLONG distance) {
    DWORD movedLow = 0;
    DWORD movedHigh = 0;
    BackupSeek(file_, static_cast<DWORD>(distance), static_cast<DWORD>(distance >> 32), &movedLow,
               &movedHigh, &context_);
    return !ContextLost();
}

bool HandleBackupReader::ContextLost() const { return context_ == kLostContext; }

}  // namespace quarrow2::discovery
