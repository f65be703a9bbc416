#include "rich_error.h"

#include <cstdio>

#include "client_owners.h"
#include "text.h"

namespace quarrow2::tool {
namespace {

std::string describe_status(HRESULT status) {
    switch (status) {
        case E_OUTOFMEMORY:
            return "Not enough memory.";
        case E_INVALIDARG:
            return "Invalid argument.";
        default: {
            char text[64];
            std::snprintf(text, sizeof text, "The library failed with status 0x%08X.",
                          static_cast<unsigned>(status));
            return text;
        }
    }
}

bool offers_rich_errors(IUnknown* object, REFIID iid) {
    if (!object) return false;
    Ref<ISupportErrorInfo> support;
    if (FAILED(object->QueryInterface(IID_ISupportErrorInfo, support.out_void()))) return false;
    return support->InterfaceSupportsErrorInfo(iid) == S_OK;
}

}  // namespace

std::string take_error_description(IUnknown* object, REFIID iid, HRESULT status) {
    if (offers_rich_errors(object, iid)) {
        Ref<IErrorInfo> info;
        if (GetErrorInfo(0, info.out()) == S_OK && info) {
            Bstr description;
            if (SUCCEEDED(info->GetDescription(description.out())) && description.length() > 0) {
                std::string text = displayable_utf8(description.get(), description.length());
                while (!text.empty() && (text.back() == '\n' || text.back() == '\r' ||
                                         text.back() == ' '))
                    text.pop_back();
                if (!text.empty()) return text;
            }
        }
    }
    return describe_status(status);
}

}  // namespace quarrow2::tool
