// File objects made the way the class object makes them, and what their failures report.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>

#include "store/file.h"
#include "support/test_support.h"

namespace quarrow2::test {
using store::File;

// A File handed out with one reference, as a client gets it.
inline ComPtr<IFile> NewFile() {
    ComPtr<File> made = platform::New<File>();
    ComPtr<IFile> file;
    EXPECT_EQ(made ? made->QueryInterface(IID_IFile, file.out_void()) : E_OUTOFMEMORY, S_OK);
    return file;
}

inline UniqueBstr BstrOf(const WString& s) {
    return UniqueBstr(SysAllocStringLen(s.data(), static_cast<UINT>(s.size())));
}

// A boolean answer of File (SetFile's, Exists, Supported): S_OK and one of the two values.
template <class Method, class... Args>
bool Answer(IFile* file, Method method, Args... args) {
    VARIANT_BOOL value = 1;
    EXPECT_EQ((file->*method)(args..., &value), S_OK);
    EXPECT_TRUE(value == VARIANT_TRUE || value == VARIANT_FALSE);
    return value == VARIANT_TRUE;
}
inline bool Bind(IFile* file, const WString& path) {
    return Answer(file, &IFile::SetFile, BstrOf(path).get());
}
inline bool Bind(IFile* file, const std::filesystem::path& path) { return Bind(file, PathW(path)); }
inline bool Exists(IFile* file) { return Answer(file, &IFile::get_Exists); }
inline bool Supported(IFile* file) { return Answer(file, &IFile::get_Supported); }

// What Open or Add gave: the status, the item, and the rich error of a failure.
struct ItemOutcome {
    HRESULT hr = E_UNEXPECTED;
    ComPtr<IMetaData> item;
    RichError error;
};

inline ItemOutcome OpenOrAdd(IFile* file, bool add, BSTR type) {
    ItemOutcome o;
    SetErrorInfo(0, nullptr);
    // A stale pointer in the out-argument must be cleared, not released or kept.
    IMetaData* out = reinterpret_cast<IMetaData*>(static_cast<uintptr_t>(0x10));
    o.hr = add ? file->Add(type, &out) : file->Open(type, &out);
    if (o.hr == S_OK) {
        o.item = ComPtr<IMetaData>::adopt(out);
    } else {
        EXPECT_EQ(out, nullptr);
        o.error = TakeRichError();
    }
    return o;
}
inline ItemOutcome Open(IFile* file, const WString& type) {
    return OpenOrAdd(file, false, BstrOf(type).get());
}
inline ItemOutcome Add(IFile* file, const WString& type) {
    return OpenOrAdd(file, true, BstrOf(type).get());
}
inline ItemOutcome Open(IFile* file, const char* type) { return Open(file, W(type)); }
inline ItemOutcome Add(IFile* file, const char* type) { return Add(file, W(type)); }

// Checks a reported failure of File: E_FAIL, the message with the system text of `code`,
// that code left as the last error (0: none, never a stale one), the class and interface.
inline void ExpectFileFailure(const ItemOutcome& o, const std::string& message,
                              DWORD code = ERROR_SUCCESS) {
    const std::string description = WithSystemText(message, code);
    EXPECT_EQ(o.hr, E_FAIL);
    EXPECT_FALSE(o.item);
    ASSERT_TRUE(o.error.present) << description;
    EXPECT_EQ(o.error.description, description);
    EXPECT_EQ(o.error.code, code) << description;
    EXPECT_EQ(o.error.source, ProgIdOf(CLSID_File));
    EXPECT_TRUE(IsEqualGUID(o.error.guid, IID_IFile));
}

// IFile2 of a File, as a client asks for it.
inline ComPtr<IFile2> Extended(IFile* file) {
    ComPtr<IFile2> extended;
    EXPECT_EQ(file->QueryInterface(IID_IFile2, extended.out_void()), S_OK);
    return extended;
}

// One of IFile2's (or IFile3's: `iid`) calls as one line: what it gave on S_OK, else its
// status in hex and the description of its rich error, which must be File's for `iid`.
template <class Gave>
std::string Outcome(HRESULT hr, Gave gave, REFIID iid = IID_IFile2) {
    if (hr == S_OK) return gave();
    const RichError error = TakeRichError();
    if (error.present) {
        EXPECT_EQ(error.source, ProgIdOf(CLSID_File));
        EXPECT_TRUE(IsEqualGUID(error.guid, iid));
    }
    char status[12];
    std::snprintf(status, sizeof status, "%08X ", static_cast<unsigned>(hr));
    return status + (error.present ? error.description : "(no rich error)");
}
inline std::string Failed(HRESULT hr, const std::string& description) {
    char status[12];
    std::snprintf(status, sizeof status, "%08X ", static_cast<unsigned>(hr));
    return status + description;
}
// IFile2's failure for a system code: `message`, then `reason` or the system's text.
inline std::string FailedFor(DWORD code, const std::string& message, const char* reason = nullptr) {
    return Failed(HRESULT_FROM_WIN32(code),
                  reason ? message + " " + reason : WithSystemText(message, code));
}

// IFile3's Names of the same File as "name, ...", or its failure.
inline std::string NamesOf(IFile2* file) {
    ComPtr<IFile3> extended;
    if (file->QueryInterface(IID_IFile3, extended.out_void()) != S_OK) return "<no IFile3>";
    SetErrorInfo(0, nullptr);
    UniqueVariant names;
    return Outcome(
        extended->get_Names(names.out()),
        [&] {
            const VariantTable list(*names);
            if (FAILED(list.result()) || SafeArrayGetDim(names->parray) != 1)
                return std::string("<not one dimension>");
            std::string listed;
            for (ULONG i = 0; i < list.rows(); ++i)
                listed +=
                    (i ? ", " : "") + (list.at(i, 0).vt == VT_BSTR ? Narrow(list.at(i, 0).bstrVal)
                                                                   : std::string("<vt>"));
            return listed;
        },
        IID_IFile3);
}

// Items as "name size, ..." (a name that is no item with "null"), or its failure. Names
// must agree on the same file: the names without the null ones, or the same failure.
inline std::string ItemsOf(IFile2* file) {
    SetErrorInfo(0, nullptr);
    UniqueVariant items;
    std::optional<std::string> names;  // set when Items answered
    const std::string outcome = Outcome(file->get_Items(items.out()), [&] {
        const VariantTable table(*items);
        if (FAILED(table.result()) || (table.rows() && table.columns() != 2))
            return std::string("<not n x 2>");
        std::string listed;
        names.emplace();
        for (ULONG row = 0; row < table.rows(); ++row) {
            const VARIANT &name = table.at(row, 0), &size = table.at(row, 1);
            const std::string text = Narrow(name.vt == VT_BSTR ? name.bstrVal : nullptr);
            listed += (row ? ", " : "") + text +
                      (size.vt == VT_I4     ? " " + std::to_string(size.lVal)
                       : size.vt == VT_NULL ? " null"
                                            : " <vt>");
            if (size.vt != VT_NULL) *names += (names->empty() ? "" : ", ") + text;
        }
        return listed;
    });
    EXPECT_EQ(NamesOf(file), names.value_or(outcome));
    return outcome;
}

inline std::string ReadTextOf(IFile2* file, const WString& type) {
    SetErrorInfo(0, nullptr);
    UniqueBstr text;
    return Outcome(file->ReadText(BstrOf(type).get(), text.out()),
                   [&] { return Narrow(text.get()); });
}

// A file "report.doc" holding "contents" in a fresh folder and a File that SetUp binds to it,
// on a volume with named streams. A suite that records the folder before the bind calls this
// SetUp at the end of its own.
class BoundFileTest : public ::testing::Test {
protected:
    BoundFileTest() { MakeFile(path, "contents"); }
    void SetUp() override { ASSERT_TRUE(file && Bind(file.get(), path)); }

    TempDir dir;
    const std::filesystem::path path = dir / "report.doc";
    ComPtr<IFile> file = NewFile();
};

inline std::string TextOf(IMetaData* item) {
    UniqueBstr text;
    EXPECT_EQ(item->get_Text(text.out()), S_OK);
    return Narrow(text.get());
}

inline LONG LengthOf(IMetaData* item) {
    LONG length = -1;
    EXPECT_EQ(item->get_Length(&length), S_OK);
    return length;
}

inline HRESULT PutText(IMetaData* item, const std::string& text) {
    return item->put_Text(Bstr(text).get());
}
inline HRESULT PutText(IMetaData* item, const WString& text) {
    return item->put_Text(BstrOf(text).get());
}

}  // namespace quarrow2::test
