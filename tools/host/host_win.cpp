// Windows: Quarrow2.dll is loaded from the tool's own folder and its DllGetClassObject
// called directly, so the tool runs without registration; the command line is read as
// UTF-16 and the console is switched to UTF-8.
#include "tools/host/host.h"  // brings in the system headers first

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <string>

#include "tools/formats/console.h"
#include "tools/formats/failure.h"
#include "tools/formats/text.h"

namespace quarrow2::tool {
namespace {

using GetClassObjectEntry = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

std::string Utf8(const std::wstring& text) { return DisplayableUtf8(text.data(), text.size()); }

std::string SystemText(DWORD code) {
    wchar_t* buffer = nullptr;
    DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text = length ? std::wstring(buffer, length) : L"error " + std::to_wstring(code);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
    return Utf8(text);
}

std::wstring OwnFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    return path.substr(0, path.find_last_of(L"\\/") + 1);
}

}  // namespace

struct Library::State {
    HMODULE module = nullptr;
    GetClassObjectEntry getClassObject = nullptr;
    bool runtimeInitialised = false;

    ~State() {
        if (module) FreeLibrary(module);
        if (runtimeInitialised) CoUninitialize();
    }
};

Library::Library() : state_(std::make_unique<State>()) {
    state_->runtimeInitialised = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    std::wstring path = OwnFolder() + L"Quarrow2.dll";
    state_->module = LoadLibraryW(path.c_str());
    if (!state_->module)
        throw Failure("Unable to load " + Utf8(path) + ": " + SystemText(GetLastError()));
    state_->getClassObject = reinterpret_cast<GetClassObjectEntry>(
        reinterpret_cast<void*>(GetProcAddress(state_->module, "DllGetClassObject")));
    if (!state_->getClassObject)
        throw Failure(Utf8(path) + " has no DllGetClassObject: " + SystemText(GetLastError()));
}

Library::~Library() = default;

HRESULT Library::GetClassObject(REFCLSID clsid, REFIID iid, void** object) const {
    return state_->getClassObject(clsid, iid, object);
}

ThreadRuntime::ThreadRuntime()
    : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}

ThreadRuntime::~ThreadRuntime() {
    if (initialised_) CoUninitialize();
}

std::vector<std::string> CommandLineArguments(int, char**) {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

void PrepareStandardStreams() {
    SetConsoleOutputCP(CP_UTF8);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    _setmode(_fileno(stdin), _O_BINARY);
}

bool AttendedTerminal() { return _isatty(_fileno(stdout)) && _isatty(_fileno(stderr)); }

bool OutputIsTerminal() { return _isatty(_fileno(stdout)) != 0; }

}  // namespace quarrow2::tool
