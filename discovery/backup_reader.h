// The reading step of the stream walk: the backup stream of one open file, read through the
// platform's backup-read interface. The walk is written over this small interface so that it
// can also be fed a backup stream composed byte by byte.
#pragma once

#include "platform/platform.h"

namespace quarrow2::discovery {

class BackupReader {
public:
    // Reads up to count bytes of the backup stream into buffer and stores how many came.
    // False when the walk has to stop: the read failed or the read context was lost.
    virtual bool Read(void* buffer, DWORD count, DWORD* bytesRead) = 0;
    // Skips forward within the current stream's content. Whether the skip went the whole
    // way is not reported (the next header read tells); false only when the read context
    // was lost.
    virtual bool Skip(ULONGLONG distance) = 0;

protected:
    ~BackupReader() = default;
};

// The backup stream of an open file handle, through BackupRead and BackupSeek. Owns the
// read context they share and frees it with the abort call when it goes; the handle stays
// the caller's.
class HandleBackupReader final : public BackupReader {
public:
    explicit HandleBackupReader(HANDLE file) : file_(file) {}
    HandleBackupReader(const HandleBackupReader&) = delete;
    HandleBackupReader& operator=(const HandleBackupReader&) = delete;
    ~HandleBackupReader();

    bool Read(void* buffer, DWORD count, DWORD* bytesRead) override;
    bool Skip(ULONGLONG distance) override;

private:
    bool ContextLost() const;

    HANDLE file_;
    LPVOID context_ = nullptr;
};

}  // namespace quarrow2::discovery
