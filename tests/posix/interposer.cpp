// Preloaded ahead of libquarrow2.so by the interposition tests: SysFreeString and VariantInit
// once more, each counting its calls and handing them on to the next definition in the
// process, the library's.
#include <dlfcn.h>

#include <atomic>
#include <string_view>

#include "quarrow2/automation.h"

namespace {

std::atomic<int> freeStringCalls{0};
std::atomic<int> variantInitCalls{0};

template <class Function>
Function Next(const char* name) {
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

}  // namespace

void SysFreeString(BSTR text) {
    ++freeStringCalls;
    static const auto next = Next<void (*)(BSTR)>("SysFreeString");
    next(text);
}

void VariantInit(VARIANTARG* variant) {
    ++variantInitCalls;
    static const auto next = Next<void (*)(VARIANTARG*)>("VariantInit");
    next(variant);
}

// How often the named stand-in has been called; -1 for a name it does not stand in for.
extern "C" QUARROW2_API int InterposedCalls(const char* name) {
    if (std::string_view(name) == "SysFreeString") return freeStringCalls;
    if (std::string_view(name) == "VariantInit") return variantInitCalls;
    return -1;
}
