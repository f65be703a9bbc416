// A backup stream composed byte by byte for the stream walk: headers and raw names as real
// bytes, contents only as a length, and a record of every read and skip the walk asked for.
#pragma once

#include <algorithm>
#include <cstdint>
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
        return Bytes(rawName.data(), rawName.size() * sizeof(WCHAR)).Content(size);
    }
    // A header alone, laid out byte by byte as the platform writes it.
    ComposedBackup& Header(DWORD id, DWORD nameBytes, ULONGLONG size) {
        BYTE header[20] = {};
        std::memcpy(header, &id, 4);
        std::memcpy(header + 8, &size, 8);
        std::memcpy(header + 16, &nameBytes, 4);
        return Bytes(header, sizeof header);
    }
    ComposedBackup& Bytes(const void* data, size_t n) {
        const BYTE* p = static_cast<const BYTE*>(data);
        if (n) segments_.push_back({false, n, std::vector<BYTE>(p, p + n)});
        return *this;
    }
    ComposedBackup& Content(ULONGLONG size) {
        if (size) segments_.push_back({true, size, {}});
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
        while (*bytesRead < count && segment_ < segments_.size()) {
            const Segment& s = segments_[segment_];
            const size_t take =
                static_cast<size_t>(std::min<ULONGLONG>(s.length - offset_, count - *bytesRead));
            if (s.content) {
                contentBytesRead += take;
                std::memset(out + *bytesRead, 0, take);
            } else {
                std::memcpy(out + *bytesRead, s.bytes.data() + offset_, take);
            }
            *bytesRead += static_cast<DWORD>(take);
            Advance(take);
        }
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
        bool content;
        ULONGLONG length;
        std::vector<BYTE> bytes;
    };

    void Advance(ULONGLONG n) {
        offset_ += n;
        if (offset_ == segments_[segment_].length) {
            ++segment_;
            offset_ = 0;
        }
    }

    std::vector<Segment> segments_;
    size_t segment_ = 0;
    ULONGLONG offset_ = 0;
    size_t failRead_ = SIZE_MAX, loseAtRead_ = SIZE_MAX, loseAtSkip_ = SIZE_MAX;
};

}  // namespace quarrow2::test
