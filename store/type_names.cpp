#include "store/type_names.h"

#include <utility>

namespace quarrow2::store {
namespace {

// The names of the file's main stream itself. The leading-colon rule below covers the last
// two already; they stay listed as the names a client is most likely to try.
const WCHAR* const kForbiddenTypes[] = {OLESTR("$DATA"), OLESTR(""), OLESTR(":$DATA"), OLESTR(":")};

bool SameUnits(const WCHAR* a, const WCHAR* b) {
    for (; *a && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

// "$DATA" in any case, and nothing after it.
bool IsDataStreamKind(const WCHAR* suffix) {
    const char kKind[] = "$DATA";
    for (const char* k = kKind; *k; ++k, ++suffix) {
        const WCHAR unit = *suffix >= 'a' && *suffix <= 'z' ? *suffix - ('a' - 'A') : *suffix;
        if (unit != static_cast<WCHAR>(*k)) return false;
    }
    return *suffix == 0;
}

// Windows drops the dots and blanks that end the last part of a path, so "F:." and "F: . "
// open F itself; the same name with the stream kind after it ("F:.:$DATA") is no better.
bool IsOnlyDotsAndBlanks(const WCHAR* name) {
    const WCHAR* p = name;
    for (; *p == OLESTR('.') || *p == OLESTR(' '); ++p) {
    }
    return p != name && (*p == 0 || (*p == OLESTR(':') && IsDataStreamKind(p + 1)));
}

}  // namespace

bool IsForbiddenType(const WCHAR* type) {
    const WCHAR* name = type ? type : OLESTR("");
    for (const WCHAR* forbidden : kForbiddenTypes)
        if (SameUnits(name, forbidden)) return true;
    // ":$data", ":$Data", "::$DATA" and the like all name the main stream on NTFS.
    return name[0] == OLESTR(':') || IsOnlyDotsAndBlanks(name);
}

bool CanNameAStream(const WCHAR* type) {
    const WCHAR* p = type ? type : OLESTR("");
    for (; *p; ++p) {
        if (*p == OLESTR('/') || *p == OLESTR('\\')) return false;
        if (*p == OLESTR(':')) return IsDataStreamKind(p + 1);
    }
    return true;
}

WString ComposeStreamPath(const WCHAR* filePath, const WCHAR* type) {
    WString path = filePath ? WString(filePath) : WString();
    if (!type || !*type) return path;
    WString name(type);
    // "T:$DATA" is the stream T itself, of the kind NTFS takes for granted: the path ends in
    // the bare name, so that nothing after the file's path can be read as part of a file
    // name. Kept where the bare name would be one of the file's own contents ("$DATA:$DATA").
    const size_t colon = name.find(OLESTR(':'));
    if (colon != name.npos && IsDataStreamKind(name.c_str() + colon + 1)) {
        WString bare = name.substr(0, colon);
        if (!IsForbiddenType(bare.c_str())) name = std::move(bare);
    }
    path += OLESTR(':');
    path += name;
    return path;
}

}  // namespace quarrow2::store
