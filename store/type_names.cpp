#include "store/type_names.h"

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
    if (type && *type) {
        path += OLESTR(':');
        path += type;
    }
    return path;
}

}  // namespace quarrow2::store
