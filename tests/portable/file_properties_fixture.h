// Types and Length of a file as the File object gets them, read back for comparison.
#pragma once

#include <string>
#include <vector>

#include "discovery/file_properties.h"
#include "strings_fixture.h"

namespace quarrow2::test {

// The type names FileTypes hands out, or a note of its failure.
inline std::vector<std::string> TypesOf(const WString& path,
                                        VARIANT_BOOL supported = VARIANT_TRUE) {
    ComPtr<IStrings> strings;
    HRESULT hr = discovery::FileTypes(path.c_str(), supported, strings.out());
    if (hr != S_OK) return {"<hr " + std::to_string(hr) + ">"};
    LONG count = 0;
    strings->get_Count(&count);
    std::vector<std::string> names;
    for (LONG i = 1; i <= count; ++i) names.push_back(ItemText(strings.get(), i));
    return names;
}

// The total FileLength gives; it always succeeds.
inline LONG LengthOf(const WString& path) {
    LONG total = -1;
    EXPECT_EQ(discovery::FileLength(path.c_str(), &total), S_OK);
    return total;
}

}  // namespace quarrow2::test
