// A backup stream composed by a test, byte by byte, for the stream walk to read: stream
// headers and raw names as real bytes, contents only as a length. It records what the walk
// asked of it, so a test can tell that no content byte was ever read.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "discovery/backup_reader.h"
#include "platform/owners.h"

namespace quarrow2::test {

class ComposedBackup final : public discovery::BackupReader {
public:
    // One whole stream: its header, its raw name and size bytes of content.
    ComposedBackup& Stream(DWORD id, const WString& rawName, ULONGLONG size) {
        Header(id, static_cast<DWORD>(rawName.size() * sizeof(WCHAR)), size);
        Bytes(rawName.data(), rawName.size() * sizeof(WCHAR));
        return Content(size);
    }
    // A header alone; what follows it is up to the test.
    ComposedBackup& Header(DWORD id, DWORD nameBytes, ULONGLONG size) {
        BYTE header[20] = {};
        DWORD attributes = 0;
        std::memcpy(header, &id, 4);
        std::memcpy(header + 4, &attributes, 4);
        std::memcpy(header + 8, &size, 8);
        std::memcpy(header + 16, &nameBytes, 4);
        return Bytes(header, sizeof header);
    }
    ComposedBackup& Bytes(const void* data, size_t n) {
        if (n == 0) return *this;
        Segment s;
        s.bytes.assign(static_cast<const BYTE*>(data), static_cast<const BYTE*>(data) + n);
        s.length = n;
        segments_.push_back(std::move(s));
        return *this;
    }
    ComposedBackup& Content(ULONGLONG size) {
        if (size == 0) return *this;
        Segment s;
        s.content = true;
        s.length = size;
        segments_.push_back(std::move(s));
        return *this;
    }

    // Makes the read with this index (0-based) fail, or lose the read context.
    void FailRead(size_t index) { failRead_ = index; }
    void LoseContextAtRead(size_t index) { loseAtRead_ = index; }
    void LoseContextAtSkip(size_t index) { loseAtSkip_ = index; }

    bool Read(void* buffer, DWORD count, DWORD* bytesRead) override {
        const size_t index = requested.size();
        requested.push_back(count);
        *bytesRead = 0;
        if (index == failRead_) return false;
        BYTE* out = static_cast<BYTE*>(buffer);
        DWORD copied = 0;
        while (copied < count && segment_ < segments_.size()) {
            const Segment& s = segments_[segment_];
            const ULONGLONG take = std::min<ULONGLONG>(s.length - offset_, count - copied);
            if (s.content) {
                contentBytesRead += take;
                std::memset(out + copied, 0, static_cast<size_t>(take));
            } else {
                std::memcpy(out + copied, s.bytes.data() + offset_, static_cast<size_t>(take));
            }
            copied += static_cast<DWORD>(take);
            Advance(take);
        }
        *bytesRead = copied;
        return index != loseAtRead_;
    }

    // Like the platform's seek: moves only within the content it stands in.
    bool Skip(ULONGLONG distance) override {
        const size_t index = skips.size();
        skips.push_back(distance);
        if (segment_ < segments_.size() && segments_[segment_].content)
            Advance(std::min(distance, segments_[segment_].length - offset_));
        return index != loseAtSkip_;
    }

    std::vector<DWORD> requested;  // the byte count of every read, in order
    std::vector<ULONGLONG> skips;  // the distance of every skip, in order
    ULONGLONG contentBytesRead = 0;

private:
    struct Segment {
        bool content = false;
        ULONGLONG length = 0;
        std::vector<BYTE> bytes;
    };

    void Advance(ULONGLONG n) {
        offset_ += n;
        if (offset_ == segments_[segment_].length) {
            ++segment_;
            offset_ = 0;
        }
    }

    static constexpr size_t kNever = static_cast<size_t>(-1);
    std::vector<Segment> segments_;
    size_t segment_ = 0;
    ULONGLONG offset_ = 0;
    size_t failRead_ = kNever;
    size_t loseAtRead_ = kNever;
    size_t loseAtSkip_ = kNever;
};

}  // namespace quarrow2::test
