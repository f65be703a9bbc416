// The runtime tests run against this project's Linux runtime, and under Wine against Wine's.
#pragma once

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace quarrow2::test {

// What only this project's runtime promises (English texts, its class table) is checked here.
#if defined(_WIN32)
constexpr bool kOwnRuntime = false;
#else
constexpr bool kOwnRuntime = true;
#endif

using Results = std::vector<HRESULT>;
using Counts = std::vector<ULONG>;

}  // namespace quarrow2::test
