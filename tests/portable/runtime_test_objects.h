// What the automation-runtime tests share. They run against this project's Linux runtime
// natively and against Wine's real runtime when cross-built.
#pragma once

#include "support/test_support.h"

namespace quarrow2::test {

// True where the runtime under test is this project's own: behaviour that only it promises
// (its English texts, its class table) is checked only here.
#if defined(_WIN32)
constexpr bool kOwnRuntime = false;
#else
constexpr bool kOwnRuntime = true;
#endif

}  // namespace quarrow2::test
