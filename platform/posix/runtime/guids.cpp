// Identifiers: the standard interface identifiers, with the values Windows gives them, and
// the conversions between identifiers and their registry form.

#include <cstdint>

#include "platform/platform.h"
#include "platform/posix/runtime/class_registry.h"

extern "C" {
const IID IID_NULL = {0x00000000, 0x0000, 0x0000, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}};
const IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IDispatch = {
    0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IEnumVARIANT = {
    0x00020404, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IErrorInfo = {
    0x1CF2B120, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ICreateErrorInfo = {
    0x22F03340, 0x547D, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
const IID IID_ISupportErrorInfo = {
    0xDF0B3D60, 0x548F, 0x101B, {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};
}

// Identifiers in registry form: {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper-case hex.
namespace {

constexpr int kRegistryFormUnits = 38;  // without the terminator

// The bytes of a GUID in the order its registry form spells them.
struct SpelledBytes {
    uint8_t bytes[16];
};

GUID Unspell(const SpelledBytes& s) {
    GUID g{};
    for (int i = 0; i < 4; ++i) g.Data1 = (g.Data1 << 8) | s.bytes[i];
    g.Data2 = static_cast<uint16_t>((s.bytes[4] << 8) | s.bytes[5]);
    g.Data3 = static_cast<uint16_t>((s.bytes[6] << 8) | s.bytes[7]);
    for (int i = 0; i < 8; ++i) g.Data4[i] = s.bytes[8 + i];
    return g;
}

// Positions of the dashes inside the braces, and so of the 16 hex pairs around them.
bool IsDashPosition(int i) { return i == 9 || i == 14 || i == 19 || i == 24; }

int HexValue(OLECHAR c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
}

bool ParseRegistryForm(LPCOLESTR text, GUID* out) {
    if (text[0] != u'{') return false;
    SpelledBytes s{};
    int next = 0;
    for (int i = 1; i < kRegistryFormUnits - 1;) {
        if (IsDashPosition(i)) {
            if (text[i] != u'-') return false;
            ++i;
            continue;
        }
        const int high = HexValue(text[i]);
        const int low = high < 0 ? -1 : HexValue(text[i + 1]);
        if (low < 0) return false;
        s.bytes[next++] = static_cast<uint8_t>(high << 4 | low);
        i += 2;
    }
    if (text[kRegistryFormUnits - 1] != u'}' || text[kRegistryFormUnits] != 0) return false;
    *out = Unspell(s);
    return true;
}

}  // namespace

// A null string is the null identifier, as on Windows. Besides the registry form, a ProgID
// of the library's classes names its class identifier, as the registry would resolve it.
HRESULT CLSIDFromString(LPCOLESTR lpsz, CLSID* pclsid) {
    if (!pclsid) return E_INVALIDARG;
    if (!lpsz) {
        *pclsid = IID_NULL;
        return S_OK;
    }
    GUID parsed;
    if (ParseRegistryForm(lpsz, &parsed) || quarrow2::platform::ClassIdFromProgId(lpsz, &parsed)) {
        *pclsid = parsed;
        return S_OK;
    }
    return CO_E_CLASSSTRING;
}
